// kvr-render: paints one control or gradient off screen to a PNG.
//   kvr-render gradient --style gsHorizontal1 --size 337x25 --from $F0F0F0 --to $696969 -o out.png
//   kvr-render gradients --size 120x60 -o all.png          (all fourteen styles side by side)
//   kvr-render gauge --kind gkHorizontalBar --size 803x25 --min 0 --max 100 --progress 42
//                    [--border bsSingle|bsNone] [--forecolor C] [--backcolor C] [--color C] [--showtext 0|1] -o g.png
//   kvr-render button --size 345x33 --textoff "..." --texton "..." [--checked 1] [--pressed 1] [--flashing 1]
//                    [--phase 0|1] [--enabled 0|1] [--flat 1] [--hot 1] [--bevelwidth 4] [--facestyle gsHorizontal1]
//                    [--colorfrom C] [--colorto C] [--facevisible 0|1] [--glyph file.png] [--numglyph N]
//                    [--textcolon C] [--textcoloff C] [--text3d 0|1] -o b.png
// Colours are $BBGGRR (hex) or decimal TColor values. Every option takes a
// value (--opt value or --opt=value; -o FILE, -o=FILE or -oFILE) and is given
// at most once. Exit codes: 0 written, 1 the picture could not be written,
// 2 a mistake in the options.
#include <CLI/CLI.hpp>

#include <QApplication>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "canvas.h"
#include "control_host.h"
#include "gauge.h"
#include "gradient.h"
#include "qt_bitmap.h"
#include "qt_text_painter.h"
#include "switch_button.h"

namespace {

using namespace ab;

constexpr int kWritten = 0;
constexpr int kNotWritten = 1;  // the picture could not be written
constexpr int kUsage = 2;       // a mistake in the options

// The largest width or height: fourteen gradients side by side at this size
// still fit in memory, and the width stays far from overflowing an int.
constexpr int kMaxSide = 4096;

constexpr const char* kTool = "kvr-render";
constexpr const char* kPictures = "gradient, gradients, gauge or button";
constexpr const char* kFooter =
    "Colours are $BBGGRR (hexadecimal) or decimal TColor values (clBtnFace is -16777201).\n"
    "Exit codes: 0 the picture was written; 1 it could not be written; 2 a mistake in the options.";

// `text` with its control characters shown as '?': refusals quote what was given.
std::string Printable(std::string text) {
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  return text;
}

// Refuses the arguments: the problem on standard error, with the command
// whose --help lists the options.
int Refuse(const std::string& problem, const std::string& command = kTool) {
  std::cerr << kTool << ": " << Printable(problem) << "\n(" << command << " --help lists the options)\n";
  return kUsage;
}

bool WholeIn(const std::string& text, int lo, int hi, int& v) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size() && v >= lo && v <= hi;
}

bool ParseSize(const std::string& text, int& w, int& h) {
  const size_t x = text.find('x');
  return x != std::string::npos && WholeIn(text.substr(0, x), 1, kMaxSide, w) &&
         WholeIn(text.substr(x + 1), 1, kMaxSide, h);
}

bool IsWholeIn(const std::string& text, int lo, int hi) {
  int v = 0;
  return WholeIn(text, lo, hi, v);
}

bool IsSize(const std::string& text) {
  int w = 0, h = 0;
  return ParseSize(text, w, h);
}

bool IsColor(const std::string& text) {
  TColor c = clBlack;
  return ParseColor(text.c_str(), c);
}

// A check of an option's value for CLI11; a refused value is named with what is allowed.
CLI::Validator Allowing(std::function<bool(const std::string&)> ok, const std::string& allowed) {
  return CLI::Validator(
      [ok, allowed](std::string& text) { return ok(text) ? std::string() : "\"" + text + "\" is not " + allowed; }, "");
}

std::vector<std::string> StyleNames() {
  std::vector<std::string> names;
  for (int s = 0; s < kGradientStyleCount; ++s) names.push_back(GradientStyleName(static_cast<TGradientStyle>(s)));
  return names;
}

// In the order of their enumerations: a name's index is its value.
const std::vector<std::string> kKindNames = {"gkText", "gkHorizontalBar", "gkVerticalBar", "gkPie", "gkNeedle"};
const std::vector<std::string> kBorderNames = {"bsNone", "bsSingle"};

// One picture the tool paints (a subcommand) with its options. The values are
// checked while the arguments are parsed, so reading them cannot fail; an
// option not given reads as its default, the one its help shows.
class Picture {
 public:
  Picture(CLI::App& tool, const std::string& name, const std::string& about, const std::string& version)
      : app_(*tool.add_subcommand(name, about)) {
    app_.group("Pictures");
    app_.footer(kFooter);
    app_.set_version_flag("-v,--version", version, "Show the version and exit.")->group("");  // as the tool's
    // "-o=FILE" reaches the option as "=FILE" (CLI11 takes all that follows a
    // short name as its value): the '=' is dropped.
    Add("-o", "", "FILE.png", Allowing([](const std::string& t) { return !t.empty(); }, "a file name"),
        "The PNG file to write (required).")
        ->transform([](std::string text) { return text.substr(text.rfind('=', 0) == 0 ? 1 : 0); });
  }

  const std::string& Name() const { return app_.get_name(); }
  bool Chosen() const { return app_.parsed(); }

  void AddSize(const std::string& fallback) {
    Add("--size", fallback, "WxH", Allowing(IsSize, "WIDTHxHEIGHT, each from 1 to " + std::to_string(kMaxSide)),
        "The picture's width and height in pixels.");
  }
  void AddWhole(const std::string& flag, const std::string& fallback, int lo, int hi, const std::string& about) {
    Add(flag, fallback, "N",
        Allowing([lo, hi](const std::string& t) { return IsWholeIn(t, lo, hi); },
                 "a whole number from " + std::to_string(lo) + " to " + std::to_string(hi)),
        about);
  }
  void AddBool(const std::string& flag, const std::string& fallback, const std::string& about) {
    Add(flag, fallback, "0|1", Allowing([](const std::string& t) { return t == "0" || t == "1"; }, "0 or 1"), about);
  }
  void AddColor(const std::string& flag, const std::string& fallback, const std::string& about) {
    Add(flag, fallback, "C", Allowing(IsColor, "a colour ($BBGGRR or a decimal TColor value)"), about);
  }
  void AddChoice(const std::string& flag, const std::string& fallback, const std::string& type,
                 const std::vector<std::string>& names, const std::string& about) {
    std::string allowed;
    for (const std::string& n : names) allowed += (allowed.empty() ? "" : ", ") + n;
    Add(flag, fallback, type,
        Allowing([names](const std::string& t) { return std::find(names.begin(), names.end(), t) != names.end(); },
                 "one of " + allowed),
        about + " One of " + allowed + ".");
  }
  void AddText(const std::string& flag, const std::string& fallback, const std::string& type,
               const std::string& about) {
    Add(flag, fallback, type, CLI::Validator(), about);
  }

  // Options given more than once, as a refusal; empty when there are none.
  std::string Repeated() const {
    for (const auto& [name, value] : values_)
      if (value.option->count() > 1)
        return value.option->get_name() + " given " +
               (value.option->count() == 2 ? std::string("twice") : std::to_string(value.option->count()) + " times");
    return {};
  }

  bool Has(const std::string& name) const { return values_.at(name).option->count() != 0; }
  std::string Text(const std::string& name) const {
    const Value& v = values_.at(name);
    return v.option->count() ? v.option->results().front() : v.fallback;
  }
  int Int(const std::string& name) const {
    int v = 0;
    WholeIn(Text(name), INT_MIN, INT_MAX, v);
    return v;
  }
  bool Bool(const std::string& name) const { return Text(name) == "1"; }
  TColor Color(const std::string& name) const {
    TColor c = clBlack;
    ParseColor(Text(name).c_str(), c);
    return c;
  }
  TGradientStyle Style(const std::string& name) const {
    TGradientStyle s = gsHorizontal1;
    GradientStyleFromName(Text(name).c_str(), s);
    return s;
  }
  // The index of the value in `names`.
  int Choice(const std::string& name, const std::vector<std::string>& names) const {
    return static_cast<int>(std::find(names.begin(), names.end(), Text(name)) - names.begin());
  }
  void Size(int& w, int& h) const { ParseSize(Text("size"), w, h); }

 private:
  struct Value {
    CLI::Option* option;
    std::string fallback;
  };

  // Adds FLAG (--name or -o), read as "name" or "o". Each takes one value; a
  // repeat is collected rather than thrown, so that Repeated() can name it.
  CLI::Option* Add(const std::string& flag, const std::string& fallback, const std::string& type,
                   const CLI::Validator& check, const std::string& about) {
    CLI::Option* option = app_.add_option(flag, CLI::callback_t(), about);
    option->type_name(type)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)->check(check);
    if (!fallback.empty()) option->default_str(fallback);
    values_[flag.substr(flag.find_first_not_of('-'))] = {option, fallback};
    return option;
  }

  CLI::App& app_;
  std::map<std::string, Value> values_;
};

// Arguments CLI11 found no place for, as a refusal: the first unknown option,
// or else the first stray argument.
std::string Unexpected(const std::vector<std::string>& left, const Picture* chosen) {
  for (const std::string& arg : left)
    if (arg.size() > 1 && arg[0] == '-') {
      const std::string option = arg.substr(0, arg.find('='));
      return chosen ? "unknown option " + option + " for " + chosen->Name()
                    : "unknown option " + option + " (the picture comes first: " + kPictures + ")";
    }
  return "unexpected argument \"" + (left.empty() ? std::string() : left.front()) + "\"";
}

// The host of a control painted off screen: a fixed size, no pointer, the
// button face under it, and Qt's fonts for its text. It is shown once the
// control is set up, as a window would show it.
class OffscreenHost : public TControlHost {
 public:
  OffscreenHost(int width, int height) : size_{width, height} {}
  void Repaint() override {}
  void Invalidate() override {}
  TSize Size() const override { return size_; }
  bool Visible() const override { return visible; }
  bool MouseCaptured() const override { return false; }
  TBitmap Background() override {
    TBitmap under = NewBitmap(size_.Width, size_.Height);
    under.Fill(ToPixel(ColorToRGB(clBtnFace)));
    return under;
  }
  TTextPainter* TextPainter() override { return &qt::TextPainter(); }
  std::vector<TAbBinGControl*> Siblings() override { return {}; }

  bool visible = false;

 private:
  TSize size_;
};

// Writes `image` to `path` in the format its suffix names (PNG without one),
// replacing the file only once all of it is written. Returns the reason when
// it cannot.
std::string Write(const QImage& image, const std::string& path) {
  const QString name = QString::fromStdString(path);
  QByteArray format = QFileInfo(name).suffix().toLower().toLatin1();
  if (format.isEmpty()) format = "png";
  if (!QImageWriter::supportedImageFormats().contains(format))
    return "no image format is named " + format.toStdString();
  QSaveFile file(name);
  if (!file.open(QIODevice::WriteOnly)) {
    const QFileInfo folder(QFileInfo(name).absolutePath());
    if (!folder.exists()) return "there is no folder " + folder.filePath().toStdString();
    if (!folder.isDir()) return folder.filePath().toStdString() + " is not a folder";
    return file.errorString().toStdString();
  }
  QImageWriter writer(&file, format);
  if (!writer.write(image)) {
    file.cancelWriting();
    return writer.errorString().toStdString();
  }
  if (!file.commit()) return file.errorString().toStdString();
  return {};
}

// The tool's own help and version flags, its footer, and one picture to be named.
void SetUpTool(CLI::App& tool, const std::string& version) {
  tool.set_help_flag("-h,--help", "Show this help (or a picture's) and exit.");
  tool.set_version_flag("-v,--version", version, "Show the version and exit.");
  tool.require_subcommand(1);
  tool.footer(kFooter);
  tool.get_formatter()->label("SUBCOMMAND", "PICTURE");
}

// The pictures, each with its options and their defaults, in the order the help lists them.

Picture GradientPicture(CLI::App& tool, const std::string& version, const std::vector<std::string>& styles) {
  Picture gradient(tool, "gradient", "One gradient style filling the picture.", version);
  gradient.AddSize("337x25");
  gradient.AddChoice("--style", "gsHorizontal1", "STYLE", styles, "The gradient style.");
  gradient.AddColor("--from", "$F0F0F0", "The colour the gradient starts from.");
  gradient.AddColor("--to", "$696969", "The colour it runs to.");
  return gradient;
}

Picture GradientsPicture(CLI::App& tool, const std::string& version) {
  Picture gradients(tool, "gradients", "The fourteen gradient styles side by side, 4 pixels apart, on white.", version);
  gradients.AddSize("120x60");
  gradients.AddColor("--from", "$00FFFF", "The colour the gradients start from.");
  gradients.AddColor("--to", "$800000", "The colour they run to.");
  return gradients;
}

Picture GaugePicture(CLI::App& tool, const std::string& version) {
  Picture gauge(tool, "gauge", "The progress gauge.", version);
  gauge.AddSize("803x25");
  gauge.AddChoice("--kind", "gkHorizontalBar", "KIND", kKindNames, "The gauge's kind.");
  gauge.AddWhole("--min", "0", INT_MIN, INT_MAX, "MinValue: the progress of an empty gauge.");
  gauge.AddWhole("--max", "100", INT_MIN, INT_MAX, "MaxValue: the progress of a full one.");
  gauge.AddWhole("--progress", "0", INT_MIN, INT_MAX, "Progress (kept within --min and --max).");
  gauge.AddChoice("--border", "bsSingle", "BORDER", kBorderNames, "BorderStyle.");
  gauge.AddColor("--forecolor", "$000000", "ForeColor: the filled part.");
  gauge.AddColor("--backcolor", "$FFFFFF", "BackColor: the empty part.");
  gauge.AddColor("--color", "-16777201", "Color: around the dial of a pie or needle.");
  gauge.AddBool("--showtext", "1", "ShowText: the percentage.");
  return gauge;
}

Picture ButtonPicture(CLI::App& tool, const std::string& version, const std::vector<std::string>& styles) {
  Picture button(tool, "button", "The two-state switch button, in the state its options give.", version);
  button.AddSize("345x33");
  button.AddText("--textoff", "Старт BootLoader", "TEXT", "TextOff: the caption while off.");
  button.AddText("--texton", "BootLoader запущен", "TEXT", "TextOn: the caption while on.");
  button.AddBool("--checked", "0", "Checked: on.");
  button.AddBool("--pressed", "0", "Held down by the mouse.");
  button.AddBool("--flashing", "0", "Flashing.");
  button.AddBool("--phase", "0", "The flash phase to paint.");
  button.AddBool("--enabled", "1", "Enabled.");
  button.AddBool("--flat", "0", "Flat.");
  button.AddBool("--hot", "0", "Under the mouse.");
  button.AddWhole("--bevelwidth", "4", 0, INT_MAX, "ButtonBevel.Width in pixels.");
  button.AddChoice("--facestyle", "gsHorizontal1", "STYLE", styles, "GradBtnFace.Style.");
  button.AddColor("--colorfrom", "$F0F0F0", "GradBtnFace.ColorFrom.");
  button.AddColor("--colorto", "$696969", "GradBtnFace.ColorTo.");
  button.AddBool("--facevisible", "1", "GradBtnFace.Visible.");
  button.AddText("--glyph", "", "FILE", "Glyph: an image file.");
  button.AddWhole("--numglyph", "1", 1, INT_MAX, "NumGlyph: how many glyphs --glyph holds side by side.");
  button.AddColor("--textcolon", "$00FF00", "TextColOn: the caption's colour while on.");
  button.AddColor("--textcoloff", "$000000", "TextColOff: the caption's colour while off.");
  button.AddBool("--text3d", "1", "Text3D: the caption raised.");
  return button;
}

// The picture the arguments named, once they are parsed; none before.
const Picture* Chosen(const std::vector<Picture*>& pictures) {
  for (const Picture* p : pictures)
    if (p->Chosen()) return p;
  return nullptr;
}

// The command whose --help a refusal points to: the chosen picture's, or the tool's.
std::string HelpOf(const Picture* p) { return p ? std::string(kTool) + " " + p->Name() : std::string(kTool); }

// CLI11's parse of the arguments into the pictures' options, what it throws
// turned into the exit code: help, version or a refusal.
std::optional<int> Parse(CLI::App& tool, const std::vector<Picture*>& pictures, const std::string& version, int argc,
                         char** argv) {
  try {
    tool.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    // The tool's help lists every picture with its options; a picture's, its own.
    std::cout << tool.help("", CLI::AppFormatMode::All);
    return kWritten;
  } catch (const CLI::CallForVersion&) {
    std::cout << version << "\n";
    return kWritten;
  } catch (const CLI::ExtrasError&) {
    return Refuse(Unexpected(tool.remaining(true), Chosen(pictures)), HelpOf(Chosen(pictures)));
  } catch (const CLI::RequiredError&) {
    return Refuse(std::string("which picture? ") + kPictures);  // none was named (only "--", say)
  } catch (const CLI::ArgumentMismatch& e) {
    // Every option takes one value, so this is one given none ("--style: 1 required STYLE missing").
    const std::string what = e.what();
    return Refuse(what.substr(0, what.find(':')) + " needs a value", HelpOf(Chosen(pictures)));
  } catch (const CLI::ParseError& e) {
    return Refuse(e.what(), HelpOf(Chosen(pictures)));
  }
  return std::nullopt;
}

// Reads the arguments. Returns the exit code when they end the run (help,
// version or a refusal), nothing when the chosen picture is to be painted.
std::optional<int> ReadArguments(CLI::App& tool, const std::vector<Picture*>& pictures, const std::string& version,
                                 int argc, char** argv) {
  // The picture is named first; an unknown one is named as such rather than
  // as a stray argument.
  if (argc < 2) return Refuse(std::string("which picture? ") + kPictures);
  if (const std::string first = argv[1];
      !first.starts_with('-') &&
      std::none_of(pictures.begin(), pictures.end(), [&](const Picture* p) { return p->Name() == first; }))
    return Refuse("unknown picture \"" + first + "\" (" + kPictures + ")");

  // The tool's own options are read first; the window system gets none of
  // them (it would take --style as its widget style).
  if (const std::optional<int> code = Parse(tool, pictures, version, argc, argv)) return code;
  const Picture* picked = Chosen(pictures);
  if (!picked) return Refuse(std::string("which picture? ") + kPictures);
  if (const std::string repeated = picked->Repeated(); !repeated.empty()) return Refuse(repeated, HelpOf(picked));
  if (!picked->Has("o")) return Refuse("-o FILE.png is missing: the file to write the picture to", HelpOf(picked));
  return std::nullopt;
}

TBitmap PaintGradient(const Picture& a) {
  int w = 0, h = 0;
  a.Size(w, h);
  TBitmap picture = NewBitmap(w, h);
  TCanvas c(picture);
  FillGradient(c, {0, 0, w, h}, a.Color("from"), a.Color("to"), a.Style("style"));
  return picture;
}

TBitmap PaintGradients(const Picture& a) {
  int w = 0, h = 0;
  a.Size(w, h);
  const int gap = 4;
  TBitmap picture = NewBitmap(kGradientStyleCount * (w + gap) - gap, h);
  picture.Fill(ToPixel(clWhite));
  TCanvas c(picture);
  for (int s = 0; s < kGradientStyleCount; ++s)
    FillGradient(c, {s * (w + gap), 0, s * (w + gap) + w, h}, a.Color("from"), a.Color("to"),
                 static_cast<TGradientStyle>(s));
  return picture;
}

TBitmap PaintGauge(const Picture& a) {
  int w = 0, h = 0;
  a.Size(w, h);
  OffscreenHost host(w, h);
  TGauge g(&host);
  g.SetFont(qt::FontFromQt(QApplication::font()));  // a gauge without an owner has the application's font
  g.SetKind(static_cast<TGaugeKind>(a.Choice("kind", kKindNames)));
  g.BeginLoading();
  g.SetMinValue(a.Int("min"));
  g.SetMaxValue(a.Int("max"));
  g.Loaded();
  g.SetProgress(a.Int("progress"));
  g.SetBorderStyle(static_cast<TBorderStyle>(a.Choice("border", kBorderNames)));
  g.SetForeColor(a.Color("forecolor"));
  g.SetBackColor(a.Color("backcolor"));
  g.SetColor(a.Color("color"));
  g.SetShowText(a.Bool("showtext"));
  TBitmap picture;
  g.Paint(picture);
  return picture;
}

// The button's properties as the options give them, up to its glyph.
void SetUpButton(TAbColBitBtn& b, const Picture& a) {
  TFont font = qt::FontFromQt(QApplication::font());  // the owner's font, in bold
  font.Bold = true;
  b.SetFont(font);
  b.SetMode(mSwitch);
  b.SetTextOff(a.Text("textoff"));
  b.SetTextOn(a.Text("texton"));
  b.SetTextColOn(a.Color("textcolon"));
  b.SetTextColOff(a.Color("textcoloff"));
  b.SetText3D(a.Bool("text3d"));
  b.ButtonBevel().SetWidth(a.Int("bevelwidth"));
  b.GradBtnFace().SetStyle(a.Style("facestyle"));
  b.GradBtnFace().SetColorFrom(a.Color("colorfrom"));
  b.GradBtnFace().SetColorTo(a.Color("colorto"));
  b.GradBtnFace().SetVisible(a.Bool("facevisible"));
  b.SetFlat(a.Bool("flat"));
}

// Gives the button the --glyph file, when there is one. False, said on
// standard error, when the file cannot be read.
bool LoadGlyph(TAbColBitBtn& b, const Picture& a) {
  if (!a.Has("glyph")) return true;
  QImageReader reader(QString::fromStdString(a.Text("glyph")));
  const QImage glyph = reader.read();
  if (glyph.isNull()) {
    std::cerr << kTool << ": cannot read --glyph " << Printable(a.Text("glyph")) << ": "
              << Printable(reader.errorString().toStdString()) << "\n";
    return false;
  }
  b.SetGlyph(qt::BitmapFromImage(glyph));
  b.SetNumGlyph(a.Int("numglyph"));
  return true;
}

// The button as set up and shown; nothing when its glyph cannot be read.
std::optional<TBitmap> PaintButton(const Picture& a) {
  int w = 0, h = 0;
  a.Size(w, h);
  OffscreenHost host(w, h);
  TAbColBitBtn b(&host);
  SetUpButton(b, a);
  if (!LoadGlyph(b, a)) return std::nullopt;
  b.SetFlashing(a.Bool("flashing"));
  b.SetChecked(a.Bool("checked"));
  b.SetEnabled(a.Bool("enabled"));
  b.Loaded();
  host.visible = true;
  b.BecameVisible();
  TBitmap picture = b.Paint();
  // Press, hot and flash phase are run-time states: compose them directly.
  if (a.Has("pressed") || a.Has("hot") || a.Has("phase")) {
    if (a.Bool("pressed")) b.MouseDown(TMouseButton::mbLeft, 1, 1);
    if (a.Bool("hot")) b.MouseEnter();
    if (a.Has("phase")) b.FlashMessage(WM_FLASH, 0, a.Bool("phase") ? -1 : 0);
    bool g, t, bc, tc;
    b.LookFlags(g, t, bc, tc);
    picture = b.ComposeButton(g, t, bc, tc);
  }
  return picture;
}

// The picture `a` names, painted; nothing when it cannot be (the reason is on standard error).
std::optional<TBitmap> Paint(const Picture& a) {
  const std::string what = a.Name();
  if (what == "gradient") return PaintGradient(a);
  if (what == "gradients") return PaintGradients(a);
  if (what == "gauge") return PaintGauge(a);
  return PaintButton(a);
}

// Writes the picture to `out` and says so on standard output. Returns the exit code.
int WritePicture(const TBitmap& picture, const std::string& out) {
  const QImage image = qt::WrapBitmap(picture);
  if (const std::string why = Write(image, out); !why.empty()) {
    std::cerr << kTool << ": cannot write " << Printable(out) << ": " << Printable(why) << "\n";
    return kNotWritten;
  }
  std::printf("%s: %dx%d\n", out.c_str(), image.width(), image.height());
  return kWritten;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App tool("Paints one of the loader's controls or gradients off screen to a PNG file.", kTool);
  const std::string version = std::string(kTool) + " " + KVR_VERSION;
  SetUpTool(tool, version);
  const std::vector<std::string> styles = StyleNames();
  Picture gradient = GradientPicture(tool, version, styles);
  Picture gradients = GradientsPicture(tool, version);
  Picture gauge = GaugePicture(tool, version);
  Picture button = ButtonPicture(tool, version, styles);
  const std::vector<Picture*> pictures = {&gradient, &gradients, &gauge, &button};
  if (const std::optional<int> code = ReadArguments(tool, pictures, version, argc, argv)) return *code;
  const Picture& a = *Chosen(pictures);

  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qt_argc = 1;
  char* qt_argv[] = {argv[0], nullptr};
  QApplication app(qt_argc, qt_argv);
  qt::UseApplicationPalette();
  const std::optional<TBitmap> picture = Paint(a);
  if (!picture) return kUsage;
  return WritePicture(*picture, a.Text("o"));
}
