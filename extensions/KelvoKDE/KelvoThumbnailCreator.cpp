#include "extensions/KelvoKDE/KelvoThumbnailCreator.h"

#include <dlfcn.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QUrl>
#include <algorithm>

#include "extensions/KelvoKDE/ThumbnailerRun.h"

// Why a file got no thumbnail, for QT_LOGGING_RULES="kelvo.thumbnail.debug=true"; quiet by
// default, since a folder of files that are not models is no fault.
Q_LOGGING_CATEGORY(kelvoThumbnailLog, "kelvo.thumbnail", QtWarningMsg)

namespace kelvo {

namespace {

// The largest side kelvo-thumbnailer draws.
constexpr int maximumPixels = 4096;

}  // namespace

QString installedThumbnailer() {
    Dl_info info{};
    if (!::dladdr(reinterpret_cast<void*>(&installedThumbnailer), &info) || !info.dli_fname)
        return {};
    const QFileInfo library(QFile::decodeName(info.dli_fname));
    if (library.suffix() != QLatin1String("so")) return {};
    // KELVO_PLUGIN_TO_BINDIR: the plugin directory's way to the binary directory, fixed at
    // configure time, so that an install is found wherever its prefix was put.
    return QDir::cleanPath(library.absolutePath() +
                           QStringLiteral("/" KELVO_PLUGIN_TO_BINDIR "/kelvo-thumbnailer"));
}

KelvoThumbnailCreator::KelvoThumbnailCreator(QObject* parent, const QVariantList& args)
    : KIO::ThumbnailCreator(parent, args), thumbnailer_(installedThumbnailer()) {}

KIO::ThumbnailResult KelvoThumbnailCreator::create(const KIO::ThumbnailRequest& request) {
    const QUrl url = request.url();
    if (!url.isLocalFile()) return KIO::ThumbnailResult::fail();
    const QSize target = request.targetSize();
    const int pixels = std::min({target.width(), target.height(), maximumPixels});
    if (pixels < 1) return KIO::ThumbnailResult::fail();
    if (thumbnailer_.isEmpty() || !QFileInfo(thumbnailer_).isExecutable()) {
        qCWarning(kelvoThumbnailLog) << "kelvo-thumbnailer not found:" << thumbnailer_;
        return KIO::ThumbnailResult::fail();
    }

    // The child writes into a directory of this request's own, removed with everything in it.
    QTemporaryDir directory;
    if (!directory.isValid()) return KIO::ThumbnailResult::fail();
    ThumbnailerRun run;
    run.thumbnailer = QFile::encodeName(thumbnailer_).toStdString();
    run.input = QFile::encodeName(url.toLocalFile()).toStdString();
    run.output =
        QFile::encodeName(directory.filePath(QStringLiteral("thumbnail.png"))).toStdString();
    run.pixels = pixels;
    run.timeLimitSeconds = timeLimitSeconds_;
    run.memoryLimitMiB = memoryLimitMiB_;
    if (std::optional<std::string> failure = runThumbnailer(run)) {
        qCDebug(kelvoThumbnailLog) << url.toLocalFile() << QString::fromStdString(*failure);
        return KIO::ThumbnailResult::fail();
    }
    // The thumbnailer's promise is a square PNG of exactly that size; anything else (an
    // older or foreign executable at that path) is not shown.
    QImage image(QFile::decodeName(run.output.c_str()), "PNG");
    if (image.isNull() || image.width() != pixels || image.height() != pixels) {
        qCDebug(kelvoThumbnailLog) << url.toLocalFile() << "no image of" << pixels << "pixels";
        return KIO::ThumbnailResult::fail();
    }
    image.setDevicePixelRatio(request.devicePixelRatio() > 0 ? request.devicePixelRatio() : 1);
    return KIO::ThumbnailResult::pass(image);
}

}  // namespace kelvo
