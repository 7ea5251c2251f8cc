// Dolphin's thumbnails (and those of every KDE file dialog and Gwenview): KDE Frameworks 5
// does not run freedesktop thumbnailers, only plugins of its own, which its thumbnail worker
// loads into its process. This plugin makes the thumbnail with kelvo-thumbnailer in a child
// process (ThumbnailerRun.h), so KDE's thumbnails are GNOME's and Thunar's, and a file that
// crashes, hangs or floods memory costs the child, never the worker.
//
// The plugin's metadata (kelvothumbnail.json, made from packaging/formats.json) names the
// MIME types; the user enables it as "3D models (Kelvo)" in Dolphin's preview settings.
#pragma once

#include <KIO/ThumbnailCreator>
#include <QString>

namespace kelvo {

class KelvoThumbnailCreator : public KIO::ThumbnailCreator {
    Q_OBJECT
    // Settable like any QObject property, which is how tests reach an instance made by the
    // plugin factory. thumbnailer: the kelvo-thumbnailer to run; by default the one installed
    // in the same prefix as the plugin. timeLimit: seconds (the thumbnailer's --time-limit;
    // the child is killed a little after it). memoryLimit: MiB (--memory-limit).
    Q_PROPERTY(QString thumbnailer MEMBER thumbnailer_)
    Q_PROPERTY(double timeLimit MEMBER timeLimitSeconds_)
    Q_PROPERTY(int memoryLimit MEMBER memoryLimitMiB_)

public:
    KelvoThumbnailCreator(QObject* parent, const QVariantList& args);

    // A square image of the request's target size (the smaller side if it is not square,
    // capped at 4096 pixels) tagged with the request's device pixel ratio; the target size
    // is already in device pixels. Failure, never a placeholder, when the file is not local
    // or no thumbnail could be made: KDE then shows the file type's icon.
    KIO::ThumbnailResult create(const KIO::ThumbnailRequest& request) override;

private:
    QString thumbnailer_;
    double timeLimitSeconds_ = 20;
    int memoryLimitMiB_ = 2048;
};

// The kelvo-thumbnailer of the prefix the running plugin is installed in, or an empty string
// when this code is not in an installed plugin.
QString installedThumbnailer();

}  // namespace kelvo
