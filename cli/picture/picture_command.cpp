#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <cstdio>
#include <cstdlib>

#include "../Commands.h"
#include "../OpenStream.h"
#include "container/OpenSource.h"
#include "picture/MacroblockMap.h"
#include "picture/PictureDecoder.h"
#include "picture/gui/OverlayPainter.h"

namespace varlow::cli {

namespace {

int PictureUsage() {
  std::fputs("usage: varlow-cli picture FILE --offset OFFSET --png OUT [--overlay types,quant,mv,slices] "
             "[--field frame|top|bottom]\n",
             stderr);
  return 2;
}

} // namespace

// varlow-cli picture FILE --offset OFFSET --png OUT [--overlay LAYERS] [--field frame|top|bottom]
int RunPicture(const Args& args) {
  const auto files = Positionals(args, {"--offset", "--png", "--overlay", "--field"});
  const auto offsetText = Option(args, "--offset");
  const auto out = Option(args, "--png");
  if (files.size() != 1 || !offsetText || !out) return PictureUsage();
  const auto offset = ParseNumber(*offsetText);
  if (!offset || *offset < 0) {
    std::fprintf(stderr, "varlow-cli: bad offset %s\n", offsetText->c_str());
    return 2;
  }
  TOverlayLayers layers;
  if (const auto overlay = Option(args, "--overlay");
      overlay && !ParseOverlayLayers(QString::fromStdString(*overlay), layers)) {
    std::fprintf(stderr, "varlow-cli: unknown overlay in %s (types, quant, mv, slices)\n", overlay->c_str());
    return 2;
  }
  TFieldView view = TFieldView::Frame;
  if (const auto field = Option(args, "--field")) {
    if (*field == "top") view = TFieldView::Top;
    else if (*field == "bottom") view = TFieldView::Bottom;
    else if (*field != "frame") return PictureUsage();
  }
  auto stream = OpenVideoStream(files[0], args);
  if (!stream) return 1;

  std::int32_t streamIndex = varlow::kFirstVideoStream;
  StreamChoice(args, streamIndex);
  TPictureDecoder decoder(files[0], std::size_t{100} << 20, streamIndex);
  const TPictureResult result = decoder.Decode(*offset);
  if (result.Status != TPictureResult::TStatus::Ok) {
    std::fprintf(stderr, "varlow-cli: %s\n", result.Message.c_str());
    return 1;
  }
  if (result.Picture->Damaged) std::fputs("varlow-cli: the decoder concealed damage in this picture\n", stderr);

  // Text in the legend needs a font database, which comes with a GUI application object.
  if (QGuiApplication::instance() == nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr)
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
  int argc = 1;
  char name[] = "varlow-cli";
  char* argv[] = {name, nullptr};
  QGuiApplication app(argc, argv);

  TMacroblockMap map;
  if (layers.Any()) map = AnalysePictureMacroblocks(*stream, *offset);
  const QImage image = ComposePicture(*result.Picture, layers.Any() ? &map : nullptr, layers, view);
  // Written beside the target and renamed, so a failed run leaves no half-written file.
  const QString target = QString::fromStdString(*out);
  const QString temporary = target + ".tmp";
  if (!image.save(temporary, "PNG")) {
    QFile::remove(temporary);
    std::fprintf(stderr, "varlow-cli: cannot write %s\n", out->c_str());
    return 1;
  }
  QFile::remove(target);
  if (!QFile::rename(temporary, target)) {
    QFile::remove(temporary);
    std::fprintf(stderr, "varlow-cli: cannot write %s\n", out->c_str());
    return 1;
  }
  return 0;
}

} // namespace varlow::cli
