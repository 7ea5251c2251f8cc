#!/usr/bin/env bash
# End-to-end checks of the installed thumbnailer where users meet it, without a desktop:
#
#   desktop-e2e.sh registration BUILD SOURCE   installed files: MIME types detected, the
#                                               .thumbnailer well formed
#   desktop-e2e.sh gnome BUILD SOURCE FACTORY  GNOME's thumbnail factory and its bubblewrap
#                                               sandbox, at 256, 512 and 1024 pixels
#   desktop-e2e.sh tumbler BUILD SOURCE         tumbler's D-Bus service
#   desktop-e2e.sh package BUILD SOURCE FACTORY the Debian package, unpacked, thumbnailing
#   desktop-e2e.sh kde BUILD SOURCE - KIOTEST   KDE's thumbnail worker (kio-extras) through
#                                               KIO's preview job, in a private D-Bus session
#   desktop-e2e.sh lintian BUILD SOURCE         the Debian packages through lintian, and
#                                               the manual pages they carry
#
# Where the build is installed: GNOME's sandbox shows the thumbnailer nothing but /usr, so
# the build under test must be installed below /usr. It goes to a fresh prefix
# /usr/local/lib/kelvo-test.XXXXXX (never /usr/local itself, whose files belong to the
# system's administrator) that is removed on exit, whatever happens. Everything else -
# HOME, the thumbnail cache, the model files - lives in a temporary directory.
#
# Exit status 0 passed, 1 failed, 77 skipped (a tool or user namespaces are missing, or
# /usr/local/lib cannot be written); CTest is told that 77 means skipped.
set -uo pipefail

mode=${1:?mode}
build=${2:?build directory}
source=${3:?source directory}
factory=${4:-}
kio_preview=${5:-}
corpus=${KELVO_CORPUS_DIR:-$source/../shared/corpus}

skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
failures=0
[ -d "$corpus/stl" ] || skip "no corpus of model files at $corpus"

work=$(mktemp -d /tmp/kelvo-e2e.XXXXXX)
prefix=""
cleanup() {
    [ -n "$prefix" ] && rm -rf -- "$prefix"
    rm -rf -- "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# usr_prefix: a fresh, empty prefix below /usr in $prefix.
usr_prefix() {
    mkdir -p /usr/local/lib 2>/dev/null
    prefix=$(mktemp -d /usr/local/lib/kelvo-test.XXXXXX 2>/dev/null) ||
        skip "cannot create a prefix below /usr/local/lib (needs root)"
    chmod 755 "$prefix"
}

# install_build: installs the build into $prefix (by default a fresh one in the work directory).
install_build() {
    [ -n "$prefix" ] || prefix=$(mktemp -d "$work/prefix.XXXXXX")
    cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1 ||
        { cat "$work/install.log"; echo "FAILED: cmake --install"; exit 1; }
}

# A clean session: no user configuration, the prefix's data ahead of the system's.
session_env() {
    mkdir -p "$work/home" "$work/cache" "$work/runtime"
    chmod 700 "$work/runtime"
    export HOME="$work/home" XDG_CACHE_HOME="$work/cache" XDG_CONFIG_HOME="$work/home/.config"
    export XDG_DATA_HOME="$work/home/.local/share" XDG_RUNTIME_DIR="$work/runtime"
    export XDG_DATA_DIRS="$1/share:/usr/share" PATH="$1/bin:$PATH"
    export GSETTINGS_BACKEND=memory GIO_USE_VFS=local
    # LeakSanitizer needs ptrace, which the sandbox forbids; leaks are the unit tests' job.
    export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
}

content_type() { gio info -a standard::content-type "$1" 2>/dev/null | sed -n 's/^ *standard::content-type: //p'; }

uri_of() { gio info -a standard::name "$1" | sed -n 's/^uri: //p'; }

# cached_png CACHE FILE: where the thumbnail of FILE in the cache size CACHE is kept.
cached_png() { echo "$XDG_CACHE_HOME/thumbnails/$1/$(printf '%s' "$(uri_of "$2")" | md5sum | cut -d' ' -f1).png"; }

registered_types() { sed -n 's/^MimeType=//p' "$1/share/thumbnailers/kelvo.thumbnailer" | tr ';' '\n' | sed '/^$/d'; }

# png_info FILE: "WIDTH HEIGHT COLOURTYPE" from the IHDR chunk, or nothing.
png_info() {
    [ "$(od -An -tx1 -N8 "$1" | tr -d ' \n')" = "89504e470d0a1a0a" ] || return 0
    local w h c
    w=$(od -An -tu1 -j16 -N4 "$1" | awk '{print $1*16777216+$2*65536+$3*256+$4}')
    h=$(od -An -tu1 -j20 -N4 "$1" | awk '{print $1*16777216+$2*65536+$3*256+$4}')
    c=$(od -An -tu1 -j25 -N1 "$1" | tr -d ' ')
    echo "$w $h $c"
}

# Model files for each format, copied into the work directory under their own names.
samples=(
    "stl/Spider_binary.stl" "stl/something with spaces.stl" "stl/ロボット.stl" "stl/torus.STL"
    "stl/20mm-xyz-cube.stl" "stl/multibody.stl" "stl/Geräte/20mmbox-čřšřěá.stl"
    "3mf/box.3mf" "3mf/pyramid_vertexcolor.3mf" "3mf/Box_ȣ𧜡𣎃.3mf"
    "vox/3x3x3.vox" "vox/chr_knight.vox" "vox/test_multiple_model_scene.vox"
    "gltf/Duck.glb" "obj/cube_with_vertexcolors.obj" "ply/cube_binary.ply" "other/fbx/box.fbx"
    "other/usd/CesiumMan.usdz" "other/usd/test_assets/_common/axis.usda"
)
# Files every host must refuse, and GNOME remember as failed.
# (A zero-byte file never reaches a thumbnailer: it is application/x-zerosize.)
negatives=("stl/text_file.stl" "stl/empty.stl")

copy_samples() {
    mkdir -p "$work/models"
    local list=() f
    for f in "$@"; do
        [ -f "$corpus/$f" ] || continue
        cp "$corpus/$f" "$work/models/$(basename "$f")"
        list+=("$work/models/$(basename "$f")")
    done
    printf '%s\n' "${list[@]}"
}

# The samples whose detected type the installed thumbnailer registers.
registered_samples() {
    local types f
    types=$(registered_types "$1")
    while IFS= read -r f; do
        grep -qxF "$(content_type "$f")" <<<"$types" && echo "$f"
    done < <(copy_samples "${samples[@]}")
}

require_sandbox() {
    command -v bwrap >/dev/null || skip "bubblewrap is not installed"
    bwrap --ro-bind /usr /usr --symlink usr/lib /lib --symlink usr/lib64 /lib64 \
        --symlink usr/bin /bin --proc /proc --dev /dev --unshare-all /usr/bin/true 2>/dev/null ||
        skip "bubblewrap cannot create user namespaces here"
}

# run_factory ROOT: GNOME's factory at each cache size on the registered samples, then on
# the negatives, checking the cached PNGs and the failure entries.
run_factory() {
    local root=$1 files flavor size line path w h info
    mapfile -t files < <(registered_samples "$root")
    [ ${#files[@]} -gt 0 ] || { fail "no corpus sample of a registered type"; return; }
    grep -q '\.stl$' <<<"$(printf '%s\n' "${files[@]}")" || fail "no STL sample was tested"
    for flavor in large:256 x-large:512 xx-large:1024; do
        size=${flavor#*:}
        "$factory" "${flavor%:*}" "${files[@]}" >"$work/factory.out" 2>"$work/factory.err" ||
            { cat "$work/factory.out"; tail -20 "$work/factory.err"; fail "factory at $size px"; }
        while read -r line; do
            [ "${line%% *}" = ok ] || continue
            read -r _ path w h <<<"$line"
            info=$(png_info "$path")
            [ "$info" = "$size $size 6" ] || fail "$path: expected a $size px RGBA PNG, got '$info'"
        done <"$work/factory.out"
        echo "GNOME factory, $size px: $(grep -c '^ok' "$work/factory.out") of ${#files[@]} thumbnailed"
    done
    # Refused files: no thumbnail, and GNOME's failure entry instead.
    mapfile -t files < <(copy_samples "${negatives[@]}")
    if "$factory" large "${files[@]}" >"$work/factory.out" 2>&1; then
        fail "the factory thumbnailed files that are not models"
    fi
    local fails
    fails=$(find "$XDG_CACHE_HOME/thumbnails/fail" -name '*.png' 2>/dev/null | wc -l)
    [ "$fails" -eq ${#files[@]} ] || fail "expected ${#files[@]} failure entries, found $fails"
    # No leftovers in the sandbox's directory: GNOME warns and leaks it otherwise.
    if ls -d /tmp/gnome-desktop-thumbnailer-* >/dev/null 2>&1; then
        find /tmp -maxdepth 2 -path '/tmp/gnome-desktop-thumbnailer-*' -newer "$work/models" -type f |
            grep . && fail "files left in the sandbox's directory"
    fi
}

# build_packages: the Debian packages of the build into $work/deb.
build_packages() {
    (cd "$build" && cpack -G DEB -B "$work/deb" >"$work/cpack.log" 2>&1) ||
        { cat "$work/cpack.log"; echo "FAILED: cpack"; exit 1; }
}

case "$mode" in
registration)
    install_build
    entry="$prefix/share/thumbnailers/kelvo.thumbnailer"
    grep -qx '\[Thumbnailer Entry\]' "$entry" || fail "no [Thumbnailer Entry] group"
    grep -qx 'Exec=kelvo-thumbnailer -s %s %i %o' "$entry" || fail "Exec line"
    grep -qx 'TryExec=kelvo-thumbnailer' "$entry" || fail "TryExec line"
    grep -q '^MimeType=model/stl;' "$entry" || fail "model/stl is not registered"
    [ -x "$prefix/bin/kelvo-thumbnailer" ] || fail "no executable in bin/"
    # The MIME database the install refreshed: our types by extension and by content.
    [ -f "$prefix/share/mime/mime.cache" ] || fail "the install did not refresh the MIME database"
    command -v gio >/dev/null || skip "gio is not installed"
    session_env "$prefix"
    mkdir -p "$work/m"
    declare -A expected=(
        [vox/3x3x3.vox]=model/x-magicavoxel [ply/cube_binary.ply]=application/vnd.ply
        [other/fbx/box.fbx]=application/vnd.fbx [other/usd/CesiumMan.usdz]=model/vnd.usdz+zip
        [stl/Spider_binary.stl]=model/stl [3mf/box.3mf]=model/3mf
    )
    for f in "${!expected[@]}"; do
        [ -f "$corpus/$f" ] || continue
        cp "$corpus/$f" "$work/m/"
        got=$(content_type "$work/m/$(basename "$f")")
        [ "$got" = "${expected[$f]}" ] || fail "$f: detected as '$got', expected ${expected[$f]}"
    done
    # Found by magic alone, without an extension.
    printf 'VOX \226\0\0\0MAIN' >"$work/m/noext-vox"
    printf 'ply\nformat ascii 1.0\nend_header\n' >"$work/m/noext-ply"
    printf 'Kaydara FBX Binary  \0\032\0' >"$work/m/noext-fbx"
    printf '#usda 1.0\n' >"$work/m/noext-usda"
    printf 'PXR-USDC\0\0\0\0' >"$work/m/noext-usdc"
    for t in vox:model/x-magicavoxel ply:application/vnd.ply fbx:application/vnd.fbx \
             usda:model/vnd.usda usdc:application/vnd.usdc; do
        got=$(content_type "$work/m/noext-${t%%:*}")
        [ "$got" = "${t#*:}" ] || fail "magic of ${t%%:*}: detected as '$got', expected ${t#*:}"
    done
    # Every registered type is one the desktop knows.
    while IFS= read -r t; do
        { cat "$prefix/share/mime/types" /usr/share/mime/types
          cut -d' ' -f1 "$prefix/share/mime/aliases" /usr/share/mime/aliases; } 2>/dev/null |
            grep -xF "$t" >/dev/null || fail "registered type $t is unknown to shared-mime-info"
    done < <(registered_types "$prefix")
    ;;
gnome)
    [ -x "$factory" ] || skip "the GNOME factory test program was not built (libgnome-desktop-4-dev)"
    require_sandbox
    usr_prefix && install_build
    session_env "$prefix"
    run_factory "$prefix"
    # The factory of gnome-desktop-3's own debug tool too, when it is installed.
    legacy=/usr/libexec/gnome-desktop-debug/test-desktop-thumbnail
    if [ -x "$legacy" ]; then
        "$legacy" "$work/models/Spider_binary.stl" "$work/legacy.png" >/dev/null 2>&1 ||
            fail "test-desktop-thumbnail"
        [ "$(png_info "$work/legacy.png")" = "256 256 6" ] || fail "test-desktop-thumbnail's PNG"
    fi
    ;;
tumbler)
    tumblerd=$(ls /usr/lib/*/tumbler-1/tumblerd 2>/dev/null | head -n1)
    [ -n "$tumblerd" ] || skip "tumbler is not installed"
    command -v dbus-run-session >/dev/null && command -v gdbus >/dev/null ||
        skip "dbus-run-session or gdbus is missing"
    # Tumbler runs thumbnailers unsandboxed, but a prefix below /usr keeps one install layout.
    usr_prefix && install_build
    session_env "$prefix"
    mapfile -t files < <(registered_samples "$prefix")
    mapfile -t bad < <(copy_samples "${negatives[@]}")
    uris="" mimes=""
    for f in "${files[@]}" "${bad[@]}"; do
        uris+="'$(uri_of "$f")',"; mimes+="'$(content_type "$f")',"
    done
    for flavor in normal:128 x-large:512; do
        size=${flavor#*:}
        # tumblerd's debug log tells of every Ready and Error signal and of the job's end.
        dbus-run-session -- bash -c '
            G_MESSAGES_DEBUG=all "$1" >"$2/tumblerd.log" 2>&1 & tumbler=$!
            gdbus wait --session --timeout 20 org.freedesktop.thumbnails.Thumbnailer1 || exit 1
            gdbus call --session --dest org.freedesktop.thumbnails.Thumbnailer1 \
                --object-path /org/freedesktop/thumbnails/Thumbnailer1 \
                --method org.freedesktop.thumbnails.Thumbnailer1.Queue "[$3]" "[$4]" "$5" default 0 >/dev/null
            for _ in $(seq 600); do grep -q "Finishing job" "$2/tumblerd.log" && break; sleep 0.05; done
            kill $tumbler 2>/dev/null; wait' _ \
            "$tumblerd" "$work" "${uris%,}" "${mimes%,}" "${flavor%:*}" ||
            { fail "tumbler did not start"; continue; }
        grep -q "Finishing job" "$work/tumblerd.log" || fail "tumbler did not finish at $size px"
        made=0
        for f in "${files[@]}"; do
            info=$(png_info "$(cached_png "${flavor%:*}" "$f")")
            [ "${info% *}" = "$size $size" ] && made=$((made + 1)) ||
                fail "tumbler, $size px: $(basename "$f"): got '$info'"
        done
        errors=$(grep -c "Error signal for job" "$work/tumblerd.log")
        [ "$errors" -ge 1 ] || fail "tumbler reported no error for the non-models"
        echo "tumbler, $size px: $made of ${#files[@]} thumbnailed"
    done
    ;;
package)
    [ -x "$factory" ] || skip "the GNOME factory test program was not built (libgnome-desktop-4-dev)"
    command -v dpkg-shlibdeps >/dev/null || skip "dpkg-dev is not installed"
    require_sandbox
    build_packages
    deb=$(ls "$work"/deb/kelvo_*_*.deb 2>/dev/null | head -n1)
    [ -n "$deb" ] || { echo "FAILED: no kelvo_<version>_<arch>.deb"; exit 1; }
    [ "$(basename "$deb")" = "kelvo_$(dpkg-deb -f "$deb" Version)_$(dpkg --print-architecture).deb" ] ||
        fail "package file name $(basename "$deb")"
    depends=$(dpkg-deb -f "$deb" Depends)
    for d in shared-mime-info fonts-roboto-unhinted libc6 libpng16-16; do
        grep -q "$d" <<<"$depends" || fail "Depends lacks $d: $depends"
    done
    # GNOME users do not pull in KDE: the plugin and its libraries are kelvo-kde's alone.
    grep -qiE 'libqt|libkf5|kio' <<<"$depends" && fail "kelvo depends on Qt or KDE: $depends"
    # (grep reads all of a pipe's output here: with -q an early match would break the pipe.)
    dpkg-deb -c "$deb" | grep thumbcreator >/dev/null && fail "kelvo holds the KDE plugin"
    kde=$(ls "$work"/deb/kelvo-kde_*_*.deb 2>/dev/null | head -n1)
    if [ -n "$kde" ]; then
        grep -q "^kelvo (= $(dpkg-deb -f "$deb" Version))," <<<"$(dpkg-deb -f "$kde" Depends)" ||
            fail "kelvo-kde does not depend on this kelvo: $(dpkg-deb -f "$kde" Depends)"
        dpkg-deb -c "$kde" | grep '/qt5/plugins/kf5/thumbcreator/kelvothumbnail\.so$' >/dev/null ||
            fail "kelvo-kde lacks the plugin"
    elif [ -e "$build/extensions/KelvoKDE/kelvothumbnail.so" ]; then
        fail "the KDE plugin was built but no kelvo-kde package made"
    fi
    dpkg-deb -c "$deb" | awk '{print $6}' | grep -v '^\./usr/' && fail "files outside /usr"
    dpkg-deb -c "$deb" | grep -q '\./usr/share/mime/mime.cache' && fail "the package ships a MIME cache"
    dpkg-deb -e "$deb" "$work/control"
    ls "$work/control" | grep -E '^(pre|post)(inst|rm)$' && fail "maintainer scripts"
    # Unpacked as dpkg would, into a clean root below /usr, then used by GNOME's factory.
    usr_prefix
    dpkg-deb -x "$deb" "$prefix"
    update-mime-database "$prefix/usr/share/mime" >/dev/null 2>&1
    session_env "$prefix/usr"
    run_factory "$prefix/usr"
    ;;
kde)
    [ -x "$kio_preview" ] || skip "the KDE plugin was not built (libkf5kio-dev)"
    ls /usr/lib/*/qt5/plugins/kf5/kio/thumbnail.so >/dev/null 2>&1 ||
        skip "KDE's thumbnail worker is not installed (kio-extras)"
    command -v dbus-run-session >/dev/null || skip "dbus-run-session is missing"
    # A plugin built with AddressSanitizer needs its runtime, which KDE's worker lacks.
    nm -D --undefined-only "$build"/extensions/KelvoKDE/kelvothumbnail.so 2>/dev/null |
        grep -E '__(a|ub)san_' >/dev/null &&
        skip "the plugin is built with sanitizers; KDE's worker cannot load it"
    # KDE runs plugins unsandboxed, so any prefix will do; Qt finds the plugin through
    # QT_PLUGIN_PATH, and the plugin finds kelvo-thumbnailer in its own prefix.
    install_build
    session_env "$prefix"
    QT_PLUGIN_PATH=$(ls -d "$prefix"/lib/*/qt5/plugins 2>/dev/null | head -n1)
    [ -f "$QT_PLUGIN_PATH/kf5/thumbcreator/kelvothumbnail.so" ] || fail "the plugin was not installed"
    export QT_PLUGIN_PATH QT_QPA_PLATFORM=offscreen
    kio() { dbus-run-session -- "$kio_preview" "$@" 2>>"$work/kio.err"; }
    # Found, and on for users who never changed Dolphin's preview settings.
    kio plugins >"$work/plugins.txt"
    grep -qxF "kelvothumbnail	3D models (Kelvo)	default" "$work/plugins.txt" ||
        { cat "$work/plugins.txt"; fail "KIO does not offer the plugin as \"3D models (Kelvo)\""; }
    mapfile -t files < <(registered_samples "$prefix")
    mapfile -t bad < <(copy_samples "${negatives[@]}")
    [ ${#files[@]} -gt 0 ] || fail "no corpus sample of a registered type"
    # SIZE:DPR:CACHE; a refused file first, so that the worker goes on after a failure.
    for flavor in 128:1:normal 256:1:large 128:2:large 512:1:x-large 512:2:xx-large; do
        IFS=: read -r size dpr cache <<<"$flavor"
        pixels=$((size * dpr))
        rm -rf "$XDG_CACHE_HOME/thumbnails"
        kio "$size" "$dpr" "${bad[0]}" "${files[@]}" "${bad[@]:1}" >"$work/kio.out"
        made=0
        for f in "${files[@]}"; do
            grep -qxF "ok $f $pixels $pixels $dpr" "$work/kio.out" && made=$((made + 1)) ||
                fail "KIO, $size px at $dpr: $(basename "$f"): $(grep -F " $f" "$work/kio.out")"
            info=$(png_info "$(cached_png "$cache" "$f")")
            [ "${info% *}" = "$pixels $pixels" ] || fail "KIO's cache, $pixels px: $(basename "$f"): '$info'"
        done
        for f in "${bad[@]}"; do
            grep -qxF "failed $f" "$work/kio.out" || fail "KIO thumbnailed $(basename "$f")"
        done
        echo "KIO, $size px at $dpr: $made of ${#files[@]} thumbnailed"
    done
    [ "$failures" -eq 0 ] || tail -20 "$work/kio.err"
    ;;
lintian)
    command -v lintian >/dev/null || skip "lintian is not installed"
    command -v dpkg-shlibdeps >/dev/null || skip "dpkg-dev is not installed"
    build_packages
    # Errors and warnings fail; informational tags do not. No tag is overridden.
    lintian --fail-on error,warning "$work"/deb/*.deb >"$work/lintian.log" 2>&1 ||
        fail "lintian: $(grep -E '^[EW]:' "$work/lintian.log")"
    grep -E '^[EWI]:' "$work/lintian.log"
    # Every installed executable has its manual page, and the thumbnailer's lists each format
    # the README marks as read (both come from packaging/formats.json).
    mkdir -p "$work/root"
    for deb in "$work"/deb/*.deb; do dpkg-deb -x "$deb" "$work/root"; done
    for exe in "$work"/root/usr/bin/*; do
        page="$work/root/usr/share/man/man1/$(basename "$exe").1.gz"
        [ -f "$page" ] || fail "no manual page for $(basename "$exe")"
    done
    text=$(MANWIDTH=200 man -l "$work/root/usr/share/man/man1/kelvo-thumbnailer.1.gz" 2>/dev/null)
    for ext in $(sed -n 's/^| `\.\([a-z0-9]*\)`.*| yes |$/\1/p' "$source/README.md"); do
        grep -q "^ *\.$ext " <<<"$text" || fail "kelvo-thumbnailer(1) does not list .$ext"
    done
    ;;
*)
    echo "unknown mode $mode"; exit 2 ;;
esac

if [ "$failures" -gt 0 ]; then
    echo "$mode: $failures check(s) failed"
    exit 1
fi
echo "$mode: passed"
