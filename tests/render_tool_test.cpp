// kvr-render as a user runs it: its options are its own (the window system
// takes none of them), bad ones are refused, and the button is painted away
// from the pointer.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

struct Outcome {
  int code = -1;  // -1 timed out, -2 crashed
  QString out, err;
};

// The tool run in `folder` (where a picture written without -o would land).
Outcome Render(const QStringList& args, const QString& folder = {}) {
  QProcess p;
  if (!folder.isEmpty()) p.setWorkingDirectory(folder);
  p.start(KVR_RENDER, args);
  Outcome r;
  if (!p.waitForFinished(30000)) return r;
  r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
  r.out = QString::fromUtf8(p.readAllStandardOutput());
  r.err = QString::fromUtf8(p.readAllStandardError());
  return r;
}

// The picture the arguments write to `path`.
QImage Written(const QString& path, const QStringList& args) {
  EXPECT_EQ(Render(args).code, 0) << args.join(' ').toStdString();
  return QImage(path).convertToFormat(QImage::Format_RGB32);
}

QImage Picture(const QTemporaryDir& dir, const QString& name, QStringList args) {
  const QString path = dir.filePath(name);
  return Written(path, args << "-o" << path);
}

TEST(RenderTool, RefusesWhatItDoesNotKnow) {
  QTemporaryDir dir;
  const QString out = dir.filePath("out.png");
  // Each with what its refusal names.
  const std::vector<std::pair<QStringList, QString>> refused = {
      {{"gradient", "--stile", "gsElliptic1", "-o", out}, "--stile"},
      {{"gradient", "--stile=gsElliptic1", "-o", out}, "--stile"},
      {{"gradient", "--style", "gsNone", "-o", out}, "gsNone"},
      {{"gradient", "--style=gsNone", "-o=" + out}, "gsNone"},
      {{"gauge", "--kind", "gkFoo", "-o", out}, "gkFoo"},
      {{"gauge", "--border", "bsDouble", "-o", out}, "bsDouble"},
      {{"gauge", "--progress", "4x", "-o", out}, "4x"},
      {{"gauge", "--progress=4x", "-o", out}, "4x"},
      {{"button", "--flat", "2", "-o", out}, "--flat"},
      {{"button", "--bevelwidth", "-1", "-o", out}, "--bevelwidth"},
      {{"gradient", "--size", "10", "-o", out}, "--size"},
      {{"gradients", "--size", "5000x10", "-o", out}, "--size"},
      {{"gradient", "--size", "1x1", "--size", "2x2", "-o", out}, "--size given twice"},
      {{"gradient", "-o", out, "--style"}, "--style"},
      {{"gradient", "-o", out, "stray"}, "stray"},
      {{"gradient", "--style", "gsElliptic1"}, "-o"},  // -o is required
      {{"gradient", "-o="}, "-o"},
      {{"sphere", "-o", out}, "sphere"},
      {{"--size", "10x10", "gradient", "-o", out}, "--size"},
      {{}, "gradient"}};
  for (const auto& [args, named] : refused) {
    const std::string what = args.join(' ').toStdString();
    const Outcome r = Render(args, dir.path());
    EXPECT_EQ(r.code, 2) << what;
    EXPECT_TRUE(r.err.contains(named)) << what << ": " << r.err.toStdString();
    const QStringList written = QDir(dir.path()).entryList(QDir::Files);
    EXPECT_TRUE(written.isEmpty()) << what << " wrote " << written.join(' ').toStdString();
    for (const QString& name : written) QFile::remove(dir.filePath(name));
  }
}

TEST(RenderTool, OptionsTakeEffect) {
  QTemporaryDir dir;
  // --style is the tool's, not the window system's widget style.
  const QImage elliptic = Picture(dir, "e.png", {"gradient", "--style", "gsElliptic1", "--size", "40x20"});
  EXPECT_EQ(elliptic.size(), QSize(40, 20));
  EXPECT_NE(elliptic, Picture(dir, "h.png", {"gradient", "--style", "gsHorizontal1", "--size", "40x20"}));
  // --opt=value, -o=FILE and -oFILE say what the spaced forms do.
  const QString eq = dir.filePath("eq.png"), joined = dir.filePath("joined.png");
  EXPECT_EQ(elliptic, Written(eq, {"gradient", "--style=gsElliptic1", "--size=40x20", "-o=" + eq}));
  EXPECT_EQ(elliptic, Written(joined, {"gradient", "-o" + joined, "--size", "40x20", "--style", "gsElliptic1"}));
  // A value may start with a dash: a quarter of -10 to 10 is a quarter of 0 to 100.
  const QImage quarter = Picture(dir, "g1.png", {"gauge", "--min", "-10", "--max", "10", "--progress", "-5"});
  EXPECT_EQ(quarter, Picture(dir, "g2.png", {"gauge", "--progress=25"}));
  EXPECT_NE(quarter, Picture(dir, "g0.png", {"gauge"}));
  // A flat button painted off looks flat, not hot.
  const QImage flat = Picture(dir, "f.png", {"button", "--flat", "1"});
  EXPECT_EQ(flat, Picture(dir, "f0.png", {"button", "--flat", "1", "--hot", "0"}));
  EXPECT_NE(flat, Picture(dir, "f1.png", {"button", "--flat", "1", "--hot", "1"}));
}

TEST(RenderTool, AnswersHelpAndVersionOnStandardOutput) {
  QTemporaryDir dir;
  // The tool's help lists every picture with its options; a picture's help only its own.
  const Outcome help = Render({"--help"}, dir.path());
  EXPECT_EQ(help.code, 0);
  for (const char* listed : {"gradients", "--style", "--kind", "--facestyle", "-o FILE"})
    EXPECT_TRUE(help.out.contains(listed)) << listed;
  const Outcome gauge = Render({"gauge", "--help"}, dir.path());
  EXPECT_EQ(gauge.code, 0);
  EXPECT_TRUE(gauge.out.contains("--progress"));
  EXPECT_FALSE(gauge.out.contains("--facestyle"));
  const Outcome version = Render({"--version"}, dir.path());
  EXPECT_EQ(version.code, 0);
  EXPECT_TRUE(QRegularExpression("^kvr-render \\d+\\.\\d+\\.\\d+\n$").match(version.out).hasMatch())
      << version.out.toStdString();
  EXPECT_TRUE(QDir(dir.path()).isEmpty());
}

TEST(RenderTool, SaysWhyItCannotWrite) {
  QTemporaryDir dir;
  const QString missing = dir.filePath("missing");
  const QString file = missing + "/out.png";
  const Outcome r = Render({"gradient", "-o", file});
  EXPECT_EQ(r.code, 1);
  // Not only the file is named, but why: the folder that is not there.
  EXPECT_TRUE(QString(r.err).remove(file).contains(missing)) << r.err.toStdString();
  EXPECT_FALSE(QFile::exists(missing));
}

}  // namespace
