#!/usr/bin/env bash
# Cross-build libvmdk.dll for 64-bit Windows from Debian's libvmdk source
# package, so the Windows build of Tessaly can load the same libvmdk release
# (20200926) that the Linux build gets from the libvmdk1 package.
#
# Usage: scripts/build-libvmdk-dll.sh OUT_DIR
#
# Produces OUT_DIR/libvmdk.dll (plus OUT_DIR/libvmdk.stamp).  A second run
# with an unchanged source version and an unchanged copy of this script
# returns at once.  Needs root (or sudo) for apt-get when packages or the
# deb-src entry are missing.
set -euo pipefail

if [ "$#" -ne 1 ]; then
    echo "usage: $0 OUT_DIR" >&2
    exit 2
fi

# Source package and version to build.  The version is the one of the
# libvmdk1 binary package in Debian bookworm (binNMU suffix dropped).
SRC_PKG=libvmdk
SRC_VERSION=20200926-2
UPSTREAM_VERSION=${SRC_VERSION%-*}
SUITE=bookworm
HOST=x86_64-w64-mingw32

mkdir -p "$1"
OUT_DIR=$(cd "$1" && pwd)
SCRIPT_HASH=$(sha256sum "${BASH_SOURCE[0]}" | cut -d' ' -f1)
STAMP="$OUT_DIR/libvmdk.stamp"
STAMP_TEXT="source=$SRC_PKG $SRC_VERSION
script=$SCRIPT_HASH"

# --- 1. cache ---------------------------------------------------------------
if [ -f "$OUT_DIR/libvmdk.dll" ] && [ -f "$STAMP" ] &&
   [ "$(cat "$STAMP")" = "$STAMP_TEXT" ]; then
    echo "libvmdk.dll is up to date in $OUT_DIR"
    exit 0
fi
# The stamp only stands for a finished build.
rm -f "$STAMP"

if [ "$(id -u)" -eq 0 ]; then
    SUDO=()
else
    SUDO=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive

APT_UPDATED=0
apt_update() {
    if [ "$APT_UPDATED" -eq 0 ]; then
        "${SUDO[@]}" apt-get update -q
        APT_UPDATED=1
    fi
}

# Install the given Debian packages that are not installed yet.
need_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null |
                grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    if [ "${#missing[@]}" -gt 0 ]; then
        apt_update
        "${SUDO[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
    fi
}

# --- 2. tools and source -----------------------------------------------------
# dpkg-dev fetches and unpacks the source package; the mingw-w64 compilers
# (posix-thread flavour) and binutils do the cross build.  autoconf and
# automake are not needed: the shipped configure script is used.
need_packages dpkg-dev gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix \
    make pkg-config

have_source_index() {
    apt-cache showsrc "$SRC_PKG" 2>/dev/null |
        grep -qx "Version: $SRC_VERSION"
}

# Write deb-src entries that mirror the enabled deb entries for $SUITE
# (and its -updates/-security suites), both for deb822 *.sources files and
# for one-line sources.list files.
add_deb_src_entries() {
    local f
    local sources_out=/etc/apt/sources.list.d/tessaly-src.sources
    local list_out=/etc/apt/sources.list.d/tessaly-src.list
    local tmp
    tmp=$(mktemp -d)

    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] && [ "$f" != "$sources_out" ] || continue
        # Keep the stanzas whose Types has "deb" and whose Suites names
        # $SUITE or $SUITE-something; rewrite Types to deb-src.
        awk -v suite="$SUITE" '
            function flush() {
                if (stanza != "" && is_deb && has_suite && enabled)
                    printf "%s\n", stanza
                stanza = ""; is_deb = 0; has_suite = 0; enabled = 1
            }
            BEGIN { RS = ""; FS = "\n" }
            {
                stanza = ""; is_deb = 0; has_suite = 0; enabled = 1
                for (i = 1; i <= NF; i++) {
                    line = $i
                    if (line ~ /^#/) continue
                    if (line ~ /^Types:/) {
                        n = split(substr(line, 7), t, /[ \t]+/)
                        for (j = 1; j <= n; j++) if (t[j] == "deb") is_deb = 1
                        line = "Types: deb-src"
                    } else if (line ~ /^Suites:/) {
                        n = split(substr(line, 8), s, /[ \t]+/)
                        for (j = 1; j <= n; j++)
                            if (s[j] == suite || index(s[j], suite "-") == 1)
                                has_suite = 1
                    } else if (line ~ /^Enabled:[ \t]*no/) {
                        enabled = 0
                    }
                    stanza = stanza line "\n"
                }
                flush()
            }' "$f" >>"$tmp/sources"
    done

    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] && [ "$f" != "$list_out" ] || continue
        # "deb [opts] URI SUITE COMPONENTS..." -> "deb-src ..." for $SUITE*
        awk -v suite="$SUITE" '
            $1 == "deb" {
                i = 2
                if ($i ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
                s = $(i + 1)
                if (s == suite || index(s, suite "-") == 1) {
                    sub(/^deb/, "deb-src"); print
                }
            }' "$f" >>"$tmp/list"
    done

    if [ -s "$tmp/sources" ]; then
        "${SUDO[@]}" cp "$tmp/sources" "$sources_out"
        echo "wrote $sources_out"
    fi
    if [ -s "$tmp/list" ]; then
        "${SUDO[@]}" cp "$tmp/list" "$list_out"
        echo "wrote $list_out"
    fi
    if [ ! -s "$tmp/sources" ] && [ ! -s "$tmp/list" ]; then
        echo "no deb entry for $SUITE found to mirror as deb-src" >&2
        rm -rf "$tmp"
        return 1
    fi
    rm -rf "$tmp"
}

if ! have_source_index; then
    apt_update
    if ! have_source_index; then
        add_deb_src_entries
        APT_UPDATED=0
        apt_update
    fi
    if ! have_source_index; then
        echo "apt knows no source package $SRC_PKG $SRC_VERSION" >&2
        exit 1
    fi
fi

SRC_ROOT="$OUT_DIR/src"
SRC_DIR="$SRC_ROOT/$SRC_PKG-$UPSTREAM_VERSION"
# Start from a clean tree so an earlier failed build cannot leak in.
rm -rf "$SRC_ROOT"
mkdir -p "$SRC_ROOT"
# apt drops privileges to _apt for downloads; let it write here.
chmod 0777 "$SRC_ROOT"
(
    cd "$SRC_ROOT"
    apt-get source -q --download-only "$SRC_PKG=$SRC_VERSION"
    dpkg-source -x "${SRC_PKG}_${SRC_VERSION}.dsc" "$SRC_DIR"
)

# Debian's patches touch configure.ac, which would make the first "make" try
# to rerun autoconf/automake.  The shipped configure and Makefile.in files
# are used as they are (Debian's change there only matters for autoreconf),
# so give the generated files one common, newer time stamp.
now=$(date +%s)
find "$SRC_DIR" -path "$SRC_DIR/debian" -prune -o \
    \( -name aclocal.m4 -o -name configure -o -name Makefile.in \
       -o -name 'config.h.in' \) -print0 |
    xargs -0 touch -d "@$now"

# --- 3. configure and build the library -------------------------------------
# Some libcthreads sources include Windows headers in mixed case
# (<Synchapi.h> ...), while mingw-w64 ships them in lower case.  Small
# forwarding headers make them resolve on a case-sensitive file system.
SHIM_DIR="$OUT_DIR/shims"
rm -rf "$SHIM_DIR"
mkdir -p "$SHIM_DIR"
for header in Synchapi.h Processthreadsapi.h Threadpoolapiset.h; do
    lower=$(printf '%s' "$header" | tr '[:upper:]' '[:lower:]')
    printf '#include <%s>\n' "$lower" >"$SHIM_DIR/$header"
done

BUILD_LOG="$OUT_DIR/build.log"
echo "building libvmdk $SRC_VERSION for $HOST (log: $BUILD_LOG)"
cd "$SRC_DIR"

# All libyal dependencies come from the copies bundled in the source
# ("--with-libX=no" selects the local version); zlib is not used, libvmdk
# then inflates with its own deflate code.  pkg-config is pointed at an
# empty directory so no library of the build machine can be picked up.
# -static-libgcc is put into CC because libtool does not pass it on from
# LDFLAGS when linking a DLL.  clock_gettime is declared absent: with the posix
# mingw-w64 toolchain it comes from libwinpthread-1.dll, and without it
# libfcache uses time() as in upstream's own Windows builds, so the DLL
# needs no DLL beside it.
mkdir -p "$OUT_DIR/pkgconfig-empty"
internal_libs=()
for lib in libcerror libcthreads libcdata libclocale libcnotify libcsplit \
           libuna libcfile libcpath libbfio libfcache libfdata libfvalue; do
    internal_libs+=("--with-$lib=no")
done
PKG_CONFIG_LIBDIR="$OUT_DIR/pkgconfig-empty" PKG_CONFIG_PATH= \
./configure \
    --host="$HOST" \
    --prefix=/ \
    --enable-shared \
    --disable-static \
    --enable-wide-character-type \
    --enable-winapi=yes \
    --disable-nls \
    --disable-rpath \
    --disable-python \
    --disable-python2 \
    --disable-python3 \
    --with-zlib=no \
    --with-libfuse=no \
    --with-pthread=no \
    "${internal_libs[@]}" \
    CC="$HOST-gcc -static-libgcc" \
    CPPFLAGS="-I$SHIM_DIR" \
    CFLAGS="-O2" \
    ac_cv_func_clock_gettime=no \
    >"$BUILD_LOG" 2>&1 || {
        tail -n 40 "$BUILD_LOG" >&2
        echo "configure failed, see $BUILD_LOG" >&2
        exit 1
    }

# Build just the library and the bundled libraries it is linked from; the
# tools, bindings and tests are not needed.
for dir in include common libcerror libcthreads libcdata libclocale \
           libcnotify libcsplit libuna libcfile libcpath libbfio libfcache \
           libfdata libfvalue libvmdk; do
    make -j2 -C "$dir" >>"$BUILD_LOG" 2>&1 || {
        tail -n 40 "$BUILD_LOG" >&2
        echo "building $dir failed, see $BUILD_LOG" >&2
        exit 1
    }
done

# libtool names the DLL after the library version (libvmdk-1.dll).
dll=$(find libvmdk/.libs -maxdepth 1 -name 'libvmdk*.dll' | head -n 1)
if [ -z "$dll" ]; then
    echo "no libvmdk DLL was produced, see $BUILD_LOG" >&2
    exit 1
fi
cp "$dll" "$OUT_DIR/libvmdk.dll"
"$HOST-strip" --strip-unneeded "$OUT_DIR/libvmdk.dll"

# --- 4. check the result ------------------------------------------------------
pe_info=$("$HOST-objdump" -p "$OUT_DIR/libvmdk.dll")

# Tessaly resolves these functions at run time.
missing=0
for sym in libvmdk_handle_initialize libvmdk_handle_free \
           libvmdk_handle_open libvmdk_handle_open_wide \
           libvmdk_handle_open_extent_data_files libvmdk_handle_close \
           libvmdk_handle_read_buffer_at_offset libvmdk_handle_get_media_size \
           libvmdk_error_free libvmdk_error_backtrace_sprint; do
    if ! grep -qE "[[:space:]]$sym\$" <<<"$pe_info"; then
        echo "libvmdk.dll does not export $sym" >&2
        missing=1
    fi
done

# Only DLLs that come with Windows may be imported, so the DLL can be
# shipped on its own.
while read -r name; do
    case "${name,,}" in
        kernel32.dll | msvcrt.dll | advapi32.dll | user32.dll | ws2_32.dll | \
        shell32.dll | ole32.dll | api-ms-win-*.dll) ;;
        *)
            echo "libvmdk.dll imports $name, which Windows does not provide" >&2
            missing=1
            ;;
    esac
done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$pe_info")

if [ "$missing" -ne 0 ]; then
    rm -f "$OUT_DIR/libvmdk.dll"
    exit 1
fi

# --- 5. stamp -----------------------------------------------------------------
printf '%s\n' "$STAMP_TEXT" >"$STAMP"
echo "built $OUT_DIR/libvmdk.dll; it imports:"
sed -n 's/^[[:space:]]*DLL Name: /  /p' <<<"$pe_info"
