// The KDE thumbnail plugin as KDE's thumbnail worker meets it: the built module's metadata,
// an instance from its factory, and create() on real and hostile cases. Fake thumbnailers
// (shell scripts) stand in for a child that hangs, crashes or lies.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <KIO/ThumbnailCreator>
#include <KPluginFactory>
#include <KPluginMetaData>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>
#include <QUrl>
#include <QVariant>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <memory>

namespace {

const QString examples = QStringLiteral(KELVO_SOURCE_DIR "/examples/");

KPluginMetaData pluginMetaData() {
    return KPluginMetaData(QStringLiteral(KELVO_KDE_PLUGIN_PATH));
}

std::unique_ptr<KIO::ThumbnailCreator> makeCreator(
    const QString& thumbnailer = KELVO_THUMBNAILER_PATH) {
    auto result = KPluginFactory::instantiatePlugin<KIO::ThumbnailCreator>(pluginMetaData());
    if (!result) return nullptr;
    std::unique_ptr<KIO::ThumbnailCreator> creator(result.plugin);
    creator->setProperty("thumbnailer", thumbnailer);
    return creator;
}

KIO::ThumbnailResult thumbnail(KIO::ThumbnailCreator& creator, const QString& file, QSize size,
                               qreal dpr = 1) {
    const QUrl url = file.contains(QLatin1String("://")) ? QUrl(file) : QUrl::fromLocalFile(file);
    return creator.create(KIO::ThumbnailRequest(url, size, QStringLiteral("model/stl"), dpr, 0));
}

// The types are the thumbnailer entry's: both are made from packaging/formats.json.
TEST(KDEPlugin, MetadataNamesTheThumbnailersTypes) {
    const KPluginMetaData data = pluginMetaData();
    ASSERT_TRUE(data.isValid());
    EXPECT_EQ(data.name(), QStringLiteral("3D models (Kelvo)"));
    EXPECT_EQ(data.pluginId(), QStringLiteral("kelvothumbnail"));
    EXPECT_TRUE(data.value(QStringLiteral("CacheThumbnail"), false));
    EXPECT_GE(data.rawData().value(QStringLiteral("ThumbnailerVersion")).toInt(), 1);
    std::ifstream entry(KELVO_BINARY_DIR "/packaging/kelvo.thumbnailer");
    QStringList registered;
    for (std::string line; std::getline(entry, line);) {
        if (line.rfind("MimeType=", 0) == 0)
            registered = QString::fromStdString(line.substr(9)).split(';', Qt::SkipEmptyParts);
    }
    EXPECT_TRUE(registered.contains(QStringLiteral("model/stl")));
    EXPECT_EQ(data.mimeTypes(), registered);
}

// Sizes and ratios as KIO asks: the target size is already in device pixels. A file that is
// not a model, a missing file, a remote URL (KIO may pass them) or no size: no image.
TEST(KDEPlugin, AnswersWithASquareOfTheAskedPixelsOrNothing) {
    auto creator = makeCreator();
    ASSERT_TRUE(creator);
    QTemporaryDir dir;
    const QString text = dir.filePath(QStringLiteral("notes.stl"));
    std::ofstream(text.toStdString()) << "these are not the triangles you are looking for\n";
    const QString knot = examples + QStringLiteral("torus-knot.stl");
    struct Case {
        QString file;
        QSize size;
        qreal dpr;
        int pixels;  // 0: no image
    } cases[] = {
        {knot, {256, 256}, 1, 256},
        {examples + QStringLiteral("heartgears.3mf"), {256, 256}, 2, 256},  // 128 points, doubled
        {examples + QStringLiteral("cars.vox"), {300, 200}, 1, 200},  // an oblong's smaller side
        {knot, {96, 96}, 1.5, 96},
        {text, {256, 256}, 1, 0},
        {dir.filePath(QStringLiteral("missing.stl")), {256, 256}, 1, 0},
        {QStringLiteral("https://example.org/model.stl"), {256, 256}, 1, 0},
        {knot, {0, 0}, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        const KIO::ThumbnailResult result = thumbnail(*creator, c.file, c.size, c.dpr);
        const QImage image = result.image();
        if (!c.pixels) {
            EXPECT_FALSE(result.isValid());
            EXPECT_TRUE(image.isNull());
            continue;
        }
        ASSERT_TRUE(result.isValid());
        EXPECT_EQ(image.size(), QSize(c.pixels, c.pixels));
        EXPECT_EQ(image.devicePixelRatio(), c.dpr);
        EXPECT_TRUE(image.hasAlphaChannel());
        // Drawn, not blank: the model covers a good part of the square.
        int opaque = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                opaque += qAlpha(image.pixel(x, y)) == 255;
        EXPECT_GT(opaque, c.pixels * c.pixels / 20);
    }
}

// A fake kelvo-thumbnailer: the shell script `body`, with real PNGs of the torus knot at
// hand, $GOOD of the 64 pixels it is asked for and $SMALL of 32; "$out" is the last argument.
class FakeThumbnailer : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString good = dir.filePath(QStringLiteral("good.png"));
    QString small = dir.filePath(QStringLiteral("small.png"));

    void SetUp() override {
        auto real = makeCreator();
        ASSERT_TRUE(real);
        for (auto [path, side] : {std::pair{good, 64}, std::pair{small, 32}}) {
            const auto result = thumbnail(*real, examples + "torus-knot.stl", {side, side});
            ASSERT_TRUE(result.isValid());
            ASSERT_TRUE(result.image().save(path));
        }
    }
    KIO::ThumbnailResult run(const std::string& body, double timeLimit = 20) {
        const QString path = dir.filePath(QStringLiteral("fake-thumbnailer"));
        std::ofstream(path.toStdString())
            << "#!/bin/bash\nGOOD='" << good.toStdString() << "'\nSMALL='" << small.toStdString()
            << "'\nfor out; do :; done\n"
            << body << "\n";
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        auto creator = makeCreator(path);
        creator->setProperty("timeLimit", timeLimit);
        return thumbnail(*creator, examples + "torus-knot.stl", {64, 64});
    }
};

TEST_F(FakeThumbnailer, ChildThatMisbehavesCostsOnlyItsThumbnail) {
    struct Case {
        const char* what;
        const char* body;
    } cases[] = {
        {"crashes", "kill -SEGV $$"},
        {"exits 0 and writes nothing", "exit 0"},
        {"writes a broken PNG", "echo garbage > \"$out\""},
        {"writes the wrong size", "cp \"$SMALL\" \"$out\""},
        {"fails", "echo 'kelvo-thumbnailer: x: SceneLoader -3: no' >&2; exit 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(run(c.body).isValid());
    }
    // An honest fake is believed, so the cases above fail for their fault alone.
    EXPECT_TRUE(run("cp \"$GOOD\" \"$out\"").isValid());
}

// A child that ignores its own time limit, and left a grandchild behind, is killed with it.
TEST_F(FakeThumbnailer, HangingChildIsStoppedWithEverythingItStarted) {
    const QString pidFile = dir.filePath(QStringLiteral("grandchild.pid"));
    const std::string body = "sleep 300 & echo $! > '" + pidFile.toStdString() + "'; sleep 300";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(run(body, 0.2).isValid());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GT(seconds, 0.2);
    EXPECT_LT(seconds, 5);  // the limit plus the grace of at least two seconds
    std::ifstream in(pidFile.toStdString());
    pid_t grandchild = 0;
    ASSERT_TRUE(in >> grandchild);
    // Gone, or a zombie waiting for whoever adopted it. SIGKILL has been sent once the host
    // returns, but a busy machine may take a moment to deliver it, so allow a grace period.
    std::string state;
    for (int tries = 0; tries < 100; ++tries) {
        std::ifstream stat("/proc/" + std::to_string(grandchild) + "/stat");
        std::string pid, name;
        if (!(stat >> pid >> name >> state) || state == "Z") {
            state = "Z";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(state, "Z");
}

// What the child gets: its limits on the command line, no descriptor of the host's and no
// blocked signal (a blocked SIGALRM would switch its own time limit off).
TEST_F(FakeThumbnailer, ChildGetsItsLimitsAndACleanStart) {
    const QString record = dir.filePath(QStringLiteral("record"));
    const int hostFile = ::open("/dev/null", O_RDONLY);  // inheritable, as hosts' often are
    sigset_t alarm, old;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);
    pthread_sigmask(SIG_BLOCK, &alarm, &old);
    run("{ echo \"$*\"; [ -e /proc/$$/fd/" + std::to_string(hostFile) +
        " ] && echo leaked || echo closed; grep SigBlk /proc/$$/status; } > '" +
        record.toStdString() + "'; cp \"$GOOD\" \"$out\"");
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    ::close(hostFile);
    std::ifstream in(record.toStdString());
    std::string args, descriptor, blocked;
    std::getline(in, args);
    std::getline(in, descriptor);
    std::getline(in, blocked);
    EXPECT_EQ(args.substr(0, args.find(" -- ")), "-s 64 --time-limit 20 --memory-limit 2048");
    EXPECT_NE(args.find(" -- " KELVO_SOURCE_DIR "/examples/torus-knot.stl /"), std::string::npos);
    EXPECT_EQ(descriptor, "closed");
    ASSERT_EQ(blocked.rfind("SigBlk:", 0), 0u);
    EXPECT_EQ(std::stoull(blocked.substr(7), nullptr, 16) & (1ull << (SIGALRM - 1)), 0u);
}

}  // namespace

// Qt's offscreen platform creates its screen when the application starts and never frees
// it; LeakSanitizer is told so, and so only of memory allocated on that platform's behalf.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libqoffscreen.so\n";
}

int main(int argc, char** argv) {
    // The thumbnail worker is a headless Qt application; so is this test.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
