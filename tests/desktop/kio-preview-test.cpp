// Thumbnails files the way Dolphin does, through KIO's PreviewJob and KDE's thumbnail worker
// (kio-extras), with only Kelvo's plugin enabled.
//
//   kio-preview-test plugins              one line per thumbnail plugin KIO finds:
//                                         "ID<TAB>NAME<TAB>default|optional"
//   kio-preview-test SIZE DPR FILE...     previews of SIZE x SIZE points at DPR
//
// For each FILE it prints "ok FILE WIDTH HEIGHT DPR" (the pixmap's pixels and ratio) or
// "failed FILE"; the exit status is 0 only when every file got a preview.
#include <KFileItem>
#include <KIO/PreviewJob>
#include <KPluginMetaData>
#include <QApplication>
#include <QPixmap>
#include <QTextStream>
#include <QUrl>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QTextStream out(stdout);
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == QLatin1String("plugins")) {
        const QStringList defaults = KIO::PreviewJob::defaultPlugins();
        for (const KPluginMetaData& plugin : KIO::PreviewJob::availableThumbnailerPlugins()) {
            out << plugin.pluginId() << '\t' << plugin.name() << '\t'
                << (defaults.contains(plugin.pluginId()) ? "default" : "optional") << '\n';
        }
        return 0;
    }
    if (args.size() < 3) {
        std::fputs("usage: kio-preview-test plugins | SIZE DPR FILE...\n", stderr);
        return 2;
    }
    const int size = args[0].toInt();
    const qreal dpr = args[1].toDouble();
    KFileItemList items;
    for (const QString& file : args.mid(2))
        items.append(KFileItem(QUrl::fromLocalFile(file)));

    const QStringList plugins = {QStringLiteral("kelvothumbnail")};
    KIO::PreviewJob* job = KIO::filePreview(items, QSize(size, size), &plugins);
    job->setDevicePixelRatio(dpr);
    // The worker's answer as it is, not fitted into a frame or scaled by the job.
    job->setScaleType(KIO::PreviewJob::ScaledAndCached);
    int failures = 0;
    QObject::connect(job, &KIO::PreviewJob::gotPreview,
                     [&](const KFileItem& item, const QPixmap& preview) {
                         out << "ok " << item.localPath() << ' ' << preview.width() << ' '
                             << preview.height() << ' ' << preview.devicePixelRatio() << Qt::endl;
                     });
    QObject::connect(job, &KIO::PreviewJob::failed, [&](const KFileItem& item) {
        out << "failed " << item.localPath() << Qt::endl;
        ++failures;
    });
    QObject::connect(job, &KJob::result, &app, [&](KJob* done) {
        if (done->error()) out << "job error: " << done->errorString() << Qt::endl;
        app.exit(failures == 0 && done->error() == 0 ? 0 : 1);
    });
    return app.exec();
}
