/* Thumbnails files the way GNOME Files does, through gnome-desktop's thumbnail factory and
 * its bubblewrap sandbox: can_thumbnail, generate_thumbnail, then save_thumbnail or
 * create_failed_thumbnail, at one cache size.
 *
 *   factory-test normal|large|x-large|xx-large FILE...
 *
 * For each FILE it prints "ok PATH WIDTH HEIGHT" (PATH: the cached thumbnail) or
 * "failed FILE: REASON"; the exit status is 0 only when every file got a thumbnail. */
#define GNOME_DESKTOP_USE_UNSTABLE_API
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gio/gio.h>
#include <libgnome-desktop/gnome-desktop-thumbnail.h>
#include <stdio.h>
#include <string.h>

static int parse_size(const char *name, GnomeDesktopThumbnailSize *size) {
    static const struct {
        const char *name;
        GnomeDesktopThumbnailSize size;
    } sizes[] = {{"normal", GNOME_DESKTOP_THUMBNAIL_SIZE_NORMAL},
                 {"large", GNOME_DESKTOP_THUMBNAIL_SIZE_LARGE},
                 {"x-large", GNOME_DESKTOP_THUMBNAIL_SIZE_XLARGE},
                 {"xx-large", GNOME_DESKTOP_THUMBNAIL_SIZE_XXLARGE}};
    for (size_t i = 0; i < G_N_ELEMENTS(sizes); ++i) {
        if (strcmp(name, sizes[i].name) == 0) {
            *size = sizes[i].size;
            return 1;
        }
    }
    return 0;
}

static int thumbnail_one(GnomeDesktopThumbnailFactory *factory, const char *path) {
    GFile *file = g_file_new_for_commandline_arg(path);
    char *uri = g_file_get_uri(file);
    GError *error = NULL;
    int ok = 0;
    GFileInfo *info = g_file_query_info(file, "standard::content-type,time::modified",
                                        G_FILE_QUERY_INFO_NONE, NULL, &error);
    if (!info) {
        printf("failed %s: %s\n", path, error->message);
        goto done;
    }
    const char *mime = g_file_info_get_content_type(info);
    time_t mtime = (time_t)g_file_info_get_attribute_uint64(info, "time::modified");
    if (!gnome_desktop_thumbnail_factory_can_thumbnail(factory, uri, mime, mtime)) {
        printf("failed %s: no thumbnailer for %s\n", path, mime);
        goto done;
    }
    GdkPixbuf *pixbuf =
        gnome_desktop_thumbnail_factory_generate_thumbnail(factory, uri, mime, NULL, &error);
    if (!pixbuf) {
        printf("failed %s: %s (%s)\n", path, error ? error->message : "no image", mime);
        g_clear_error(&error);
        gnome_desktop_thumbnail_factory_create_failed_thumbnail(factory, uri, mtime, NULL, NULL);
        goto done;
    }
    if (!gnome_desktop_thumbnail_factory_save_thumbnail(factory, pixbuf, uri, mtime, NULL,
                                                        &error)) {
        printf("failed %s: cannot save: %s\n", path, error->message);
    } else {
        char *cached = gnome_desktop_thumbnail_factory_lookup(factory, uri, mtime);
        printf("ok %s %d %d\n", cached ? cached : "(none)", gdk_pixbuf_get_width(pixbuf),
               gdk_pixbuf_get_height(pixbuf));
        ok = cached != NULL;
        g_free(cached);
    }
    g_object_unref(pixbuf);
done:
    g_clear_error(&error);
    if (info) g_object_unref(info);
    g_free(uri);
    g_object_unref(file);
    return ok;
}

int main(int argc, char **argv) {
    GnomeDesktopThumbnailSize size;
    if (argc < 3 || !parse_size(argv[1], &size)) {
        fprintf(stderr, "usage: factory-test normal|large|x-large|xx-large FILE...\n");
        return 2;
    }
    GnomeDesktopThumbnailFactory *factory = gnome_desktop_thumbnail_factory_new(size);
    int failures = 0;
    for (int i = 2; i < argc; ++i) failures += !thumbnail_one(factory, argv[i]);
    g_object_unref(factory);
    return failures == 0 ? 0 : 1;
}
