// kvr-render: paints one control or gradient off screen to a PNG.
//   kvr-render gradient --style gsHorizontal1 --size 337x25 --from $F0F0F0 --to $696969 -o out.png
//   kvr-render gradients --size 120x60 -o all.png          (all fourteen styles side by side)
//   kvr-render gauge --kind gkHorizontalBar --size 803x25 --min 0 --max 100 --progress 42
//                    [--border bsSingle|bsNone] [--forecolor C] [--backcolor C] [--color C] [--showtext 0|1] -o g.png
//   kvr-render button --size 345x33 --textoff "..." --texton "..." [--checked 1] [--pressed 1] [--flashing 1]
//                    [--phase 0|1] [--enabled 0|1] [--flat 1] [--hot 1] [--bevelwidth 4] [--facestyle gsHorizontal1]
//                    [--colorfrom C] [--colorto C] [--facevisible 0|1] [--glyph file.png] [--numglyph N]
//                    [--textcolon C] [--textcoloff C] [--text3d 0|1] -o b.png
// Colours are $BBGGRR (hex) or decimal TColor values.
#include <QApplication>
#include <QCursor>
#include <QImage>
#include <QMouseEvent>
#include <QWidget>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>

#include "canvas.h"
#include "gauge.h"
#include "gradient.h"
#include "switch_button.h"

namespace {

using namespace ab;

// Options of each picture; every one takes a value.
const std::map<std::string, std::set<std::string>> kOptions = {
    {"gradient", {"size", "style", "from", "to"}},
    {"gradients", {"size", "from", "to"}},
    {"gauge", {"size", "kind", "min", "max", "progress", "border", "forecolor", "backcolor", "color", "showtext"}},
    {"button", {"size",        "textoff", "texton",   "checked",    "pressed",    "flashing",  "phase",
                "enabled",     "flat",    "hot",      "bevelwidth", "facestyle",  "colorfrom", "colorto",
                "facevisible", "glyph",   "numglyph", "textcolon",  "textcoloff", "text3d"}},
};

[[noreturn]] void Refuse(const std::string& message) {
  std::fprintf(stderr, "kvr-render: %s\n", message.c_str());
  std::exit(2);
}

struct Args {
  std::map<std::string, std::string> values;
  bool Has(const char* k) const { return values.count(k) != 0; }
  std::string Str(const char* k, const std::string& def = "") const {
    auto it = values.find(k);
    return it == values.end() ? def : it->second;
  }
  int Int(const char* k, int def) const {
    if (!Has(k)) return def;
    const std::string v = Str(k);
    int out = 0;
    const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), out);
    if (ec != std::errc() || end != v.data() + v.size())
      Refuse("--" + std::string(k) + " wants a whole number, not " + v);
    return out;
  }
  bool Bool(const char* k, bool def) const {
    if (!Has(k)) return def;
    if (Str(k) != "0" && Str(k) != "1") Refuse("--" + std::string(k) + " wants 0 or 1, not " + Str(k));
    return Str(k) == "1";
  }
  TColor Color(const char* k, TColor def) const {
    TColor c = def;
    if (Has(k) && !ParseColor(Str(k).c_str(), c)) Refuse("bad colour for --" + std::string(k) + ": " + Str(k));
    return c;
  }
  void Size(int& w, int& h) const {
    char rest = 0;
    if (Has("size") && (std::sscanf(Str("size").c_str(), "%dx%d%c", &w, &h, &rest) != 2 || w <= 0 || h <= 0))
      Refuse("--size wants WIDTHxHEIGHT, not " + Str("size"));
  }
};

TGradientStyle Style(const std::string& name) {
  TGradientStyle s = gsHorizontal1;
  if (!GradientStyleFromName(name.c_str(), s)) Refuse("unknown style " + name);
  return s;
}

int Usage() {
  std::fprintf(stderr, "usage: kvr-render gradient|gradients|gauge|button [--option value ...] -o file.png\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // The tool's own options are read first; the window system gets none of
  // them (it would take --style as its widget style).
  if (argc < 2 || !kOptions.count(argv[1])) return Usage();
  const std::string what = argv[1];
  const std::set<std::string>& known = kOptions.at(what);
  Args a;
  for (int i = 2; i < argc; ++i) {
    const std::string k = argv[i];
    if (i + 1 >= argc) Refuse(k + " needs a value");
    if (k == "-o") {
      a.values["out"] = argv[++i];
    } else if (k.rfind("--", 0) == 0 && known.count(k.substr(2))) {
      a.values[k.substr(2)] = argv[++i];
    } else {
      Refuse("unknown option " + k + " for " + what);
    }
  }
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int qt_argc = 1;
  char* qt_argv[] = {argv[0], nullptr};
  QApplication app(qt_argc, qt_argv);
  const std::string out = a.Str("out", what + ".png");
  QImage image;

  if (what == "gradient") {
    int w = 337, h = 25;
    a.Size(w, h);
    image = NewBitmap(w, h);
    TCanvas c(image);
    FillGradient(c, {0, 0, w, h}, a.Color("from", 15790320), a.Color("to", 6908265),
                 Style(a.Str("style", "gsHorizontal1")));
  } else if (what == "gradients") {
    int w = 120, h = 60;
    a.Size(w, h);
    const int gap = 4;
    image = NewBitmap(kGradientStyleCount * (w + gap) - gap, h);
    image.fill(Qt::white);
    TCanvas c(image);
    for (int s = 0; s < kGradientStyleCount; ++s)
      FillGradient(c, {s * (w + gap), 0, s * (w + gap) + w, h}, a.Color("from", 0x00FFFF), a.Color("to", 0x800000),
                   static_cast<TGradientStyle>(s));
  } else if (what == "gauge") {
    TGauge g;
    int w = 803, h = 25;
    a.Size(w, h);
    g.resize(w, h);
    static const std::map<std::string, TGaugeKind> kinds = {{"gkText", gkText},
                                                            {"gkHorizontalBar", gkHorizontalBar},
                                                            {"gkVerticalBar", gkVerticalBar},
                                                            {"gkPie", gkPie},
                                                            {"gkNeedle", gkNeedle}};
    auto kind = kinds.find(a.Str("kind", "gkHorizontalBar"));
    if (kind == kinds.end()) Refuse("unknown kind " + a.Str("kind"));
    g.SetKind(kind->second);
    g.BeginLoading();
    g.SetMinValue(a.Int("min", 0));
    g.SetMaxValue(a.Int("max", 100));
    g.Loaded();
    g.SetProgress(a.Int("progress", 0));
    g.SetBorderStyle(a.Str("border", "bsSingle") == "bsNone" ? bsNone : bsSingle);
    g.SetForeColor(a.Color("forecolor", clBlack));
    g.SetBackColor(a.Color("backcolor", clWhite));
    g.SetColor(a.Color("color", clBtnFace));
    g.SetShowText(a.Bool("showtext", true));
    g.Paint(image);
  } else if (what == "button") {
    QWidget form;
    int w = 345, h = 33;
    a.Size(w, h);
    form.resize(w + 16, h + 16);
    QPalette pal = form.palette();
    pal.setColor(QPalette::Window, QColor(ToQRgb(ColorToRGB(clBtnFace))));
    form.setPalette(pal);
    form.setAutoFillBackground(true);
    TAbColBitBtn b(&form);
    b.setGeometry(8, 8, w, h);
    b.SetMode(mSwitch);
    b.SetTextOff(a.Str("textoff", "Старт BootLoader"));
    b.SetTextOn(a.Str("texton", "BootLoader запущен"));
    b.SetTextColOn(a.Color("textcolon", clLime));
    b.SetTextColOff(a.Color("textcoloff", clBlack));
    b.SetText3D(a.Bool("text3d", true));
    b.ButtonBevel().SetWidth(a.Int("bevelwidth", 4));
    b.GradBtnFace().SetStyle(Style(a.Str("facestyle", "gsHorizontal1")));
    b.GradBtnFace().SetColorFrom(a.Color("colorfrom", 15790320));
    b.GradBtnFace().SetColorTo(a.Color("colorto", 6908265));
    b.GradBtnFace().SetVisible(a.Bool("facevisible", true));
    b.SetFlat(a.Bool("flat", false));
    if (a.Has("glyph")) {
      QImage glyph(QString::fromStdString(a.Str("glyph")));
      if (glyph.isNull()) {
        std::fprintf(stderr, "cannot read %s\n", a.Str("glyph").c_str());
        return 2;
      }
      b.SetGlyph(glyph);
      b.SetNumGlyph(a.Int("numglyph", 1));
    }
    b.SetFlashing(a.Bool("flashing", false));
    b.SetChecked(a.Bool("checked", false));
    b.SetEnabled(a.Bool("enabled", true));
    b.Loaded();
    // Away from the pointer: a button under it would take the hot look.
    form.move(QCursor::pos() + QPoint(1, 1));
    form.show();
    QApplication::processEvents();
    image = form.grab(b.geometry()).toImage();
    // Press, hot and flash phase are run-time states: compose them directly.
    if (a.Has("pressed") || a.Has("hot") || a.Has("phase")) {
      if (a.Bool("pressed", false)) {
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(1, 1), QPointF(1, 1), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(&b, &press);
      }
      if (a.Bool("hot", false)) {
        QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
        QApplication::sendEvent(&b, &enter);
      }
      if (a.Has("phase")) b.FlashMessage(WM_FLASH, 0, a.Bool("phase", false) ? -1 : 0);
      bool g, t, bc, tc;
      b.LookFlags(g, t, bc, tc);
      image = b.ComposeButton(g, t, bc, tc);
    }
  } else {
    return Usage();
  }
  if (!image.save(QString::fromStdString(out))) {
    std::fprintf(stderr, "cannot write %s\n", out.c_str());
    return 1;
  }
  std::printf("%s: %dx%d\n", out.c_str(), image.width(), image.height());
  return 0;
}
