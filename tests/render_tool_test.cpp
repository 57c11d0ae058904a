// kvr-render as a user runs it: its options are its own (the window system
// takes none of them), bad ones are refused, and the button is painted away
// from the pointer.
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

int Render(const QStringList& args) {
  QProcess p;
  p.start(KVR_RENDER, args);
  if (!p.waitForFinished(30000)) return -1;
  return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
}

QImage Picture(const QTemporaryDir& dir, const QString& name, QStringList args) {
  const QString path = dir.filePath(name);
  args << "-o" << path;
  EXPECT_EQ(Render(args), 0) << args.join(' ').toStdString();
  return QImage(path).convertToFormat(QImage::Format_RGB32);
}

TEST(RenderTool, RefusesWhatItDoesNotKnow) {
  const std::vector<QStringList> refused = {
      {"gradient", "--stile", "gsElliptic1"}, {"gradient", "--style", "gsNone"}, {"gauge", "--kind", "gkFoo"},
      {"gauge", "--progress", "4x"},         {"button", "--flat", "2"},         {"gradient", "--size", "10"},
      {"gradient", "--style"},               {"sphere"},                        {}};
  for (const QStringList& args : refused) EXPECT_EQ(Render(args), 2) << args.join(' ').toStdString();
}

TEST(RenderTool, OptionsTakeEffect) {
  QTemporaryDir dir;
  // --style is the tool's, not the window system's widget style.
  EXPECT_NE(Picture(dir, "e.png", {"gradient", "--style", "gsElliptic1"}),
            Picture(dir, "h.png", {"gradient", "--style", "gsHorizontal1"}));
  // A flat button painted off looks flat, not hot.
  const QImage flat = Picture(dir, "f.png", {"button", "--flat", "1"});
  EXPECT_EQ(flat, Picture(dir, "f0.png", {"button", "--flat", "1", "--hot", "0"}));
  EXPECT_NE(flat, Picture(dir, "f1.png", {"button", "--flat", "1", "--hot", "1"}));
}

}  // namespace
