// Thumbnails files the way GNOME Files does, through gnome-desktop's thumbnail factory and
// its bubblewrap sandbox: can_thumbnail, generate_thumbnail, then save_thumbnail or
// create_failed_thumbnail, at one cache size.
//
//   factory-test normal|large|x-large|xx-large FILE...
//
// For each FILE it prints "ok PATH WIDTH HEIGHT" (PATH: the cached thumbnail) or
// "failed FILE: REASON"; the exit status is 0 only when every file got a thumbnail.
//
//   factory-test --lookup normal|large|x-large|xx-large FILE...
//
// only asks the factory for each FILE's cached thumbnail, as GNOME Files does before it
// thumbnails anything: "valid PATH" or "missing FILE"; status 0 only when all are valid.
#define GNOME_DESKTOP_USE_UNSTABLE_API
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>
#include <libgnome-desktop/gnome-desktop-thumbnail.h>
#include <stdio.h>
#include <string.h>

static const char* const size_names[] = {"normal", "large", "x-large", "xx-large"};
static const GnomeDesktopThumbnailSize sizes[] = {
    GNOME_DESKTOP_THUMBNAIL_SIZE_NORMAL, GNOME_DESKTOP_THUMBNAIL_SIZE_LARGE,
    GNOME_DESKTOP_THUMBNAIL_SIZE_XLARGE, GNOME_DESKTOP_THUMBNAIL_SIZE_XXLARGE};

// 1 when `path` got a cached thumbnail; otherwise prints why and returns 0.
static int thumbnail_one(GnomeDesktopThumbnailFactory* factory, const char* path) {
    g_autoptr(GFile) file = g_file_new_for_commandline_arg(path);
    g_autofree char* uri = g_file_get_uri(file);
    g_autoptr(GError) error = NULL;
    g_autoptr(GFileInfo) info = g_file_query_info(file, "standard::content-type,time::modified",
                                                  G_FILE_QUERY_INFO_NONE, NULL, &error);
    if (!info) {
        printf("failed %s: %s\n", path, error->message);
        return 0;
    }
    const char* mime = g_file_info_get_content_type(info);
    time_t mtime = (time_t)g_file_info_get_attribute_uint64(info, "time::modified");
    if (!gnome_desktop_thumbnail_factory_can_thumbnail(factory, uri, mime, mtime)) {
        printf("failed %s: no thumbnailer for %s\n", path, mime);
        return 0;
    }
    g_autoptr(GdkPixbuf) pixbuf =
        gnome_desktop_thumbnail_factory_generate_thumbnail(factory, uri, mime, NULL, &error);
    if (!pixbuf) {
        printf("failed %s: %s (%s)\n", path, error ? error->message : "no image", mime);
        gnome_desktop_thumbnail_factory_create_failed_thumbnail(factory, uri, mtime, NULL, NULL);
        return 0;
    }
    if (!gnome_desktop_thumbnail_factory_save_thumbnail(factory, pixbuf, uri, mtime, NULL,
                                                        &error)) {
        printf("failed %s: cannot save: %s\n", path, error->message);
        return 0;
    }
    g_autofree char* cached = gnome_desktop_thumbnail_factory_lookup(factory, uri, mtime);
    printf("ok %s %d %d\n", cached ? cached : "(none)", gdk_pixbuf_get_width(pixbuf),
           gdk_pixbuf_get_height(pixbuf));
    return cached != NULL;
}

// 1 when the factory finds a valid cached thumbnail of `path`; prints what it found.
static int lookup_one(GnomeDesktopThumbnailFactory* factory, const char* path) {
    g_autoptr(GFile) file = g_file_new_for_commandline_arg(path);
    g_autofree char* uri = g_file_get_uri(file);
    g_autoptr(GFileInfo) info =
        g_file_query_info(file, "time::modified", G_FILE_QUERY_INFO_NONE, NULL, NULL);
    time_t mtime = info ? (time_t)g_file_info_get_attribute_uint64(info, "time::modified") : 0;
    g_autofree char* cached = gnome_desktop_thumbnail_factory_lookup(factory, uri, mtime);
    if (cached) printf("valid %s\n", cached);
    else printf("missing %s\n", path);
    return cached != NULL;
}

int main(int argc, char** argv) {
    const int lookup = argc >= 2 && strcmp(argv[1], "--lookup") == 0;
    if (lookup) ++argv, --argc;
    for (size_t i = 0; argc >= 3 && i < G_N_ELEMENTS(sizes); ++i) {
        if (strcmp(argv[1], size_names[i]) != 0) continue;
        GnomeDesktopThumbnailFactory* factory = gnome_desktop_thumbnail_factory_new(sizes[i]);
        int failures = 0;
        for (int f = 2; f < argc; ++f)
            failures += lookup ? !lookup_one(factory, argv[f]) : !thumbnail_one(factory, argv[f]);
        g_object_unref(factory);
        return failures == 0 ? 0 : 1;
    }
    fprintf(stderr, "usage: factory-test [--lookup] normal|large|x-large|xx-large FILE...\n");
    return 2;
}
