#!/bin/sh
# Builds Kelno's four Debian packages for one architecture into dist/:
#   scripts/build-debs.sh amd64|armhf
#   kelnod        the daemon, /etc/kelnod.conf (a conffile) and its systemd unit
#   libkelno      the three shared libraries (with their sonames)
#   libkelno-dev  headers, the unversioned .so links and the pkg-config files
#   kelno-tools   kelno_prompt, kelno_mirror_json, kelno_json_tester and kelno_stats
# A Release build (Debian's build flags, no run path) in build-package/<arch>,
# staged with DESTDIR and split by hand: dpkg-deb --root-owner-group builds
# the packages without root or fakeroot, then lintian checks them and fails
# the run on an error or warning (packaging/lintian-overrides says why the
# tags it silences are silenced). Another architecture than the machine's is
# cross-built with cmake/<arch>-toolchain.cmake.
set -eu
arch="$1"
root="$(cd "$(dirname "$0")/.." && pwd)"
version="$(sed -n 's/^project(kelno VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
build="$root/build-package/$arch"
out="$root/dist"
maintainer="Kelno maintainers <maintainers@users.noreply.c-seed-e8bce197.example>"

export DEB_HOST_ARCH="$arch"
triplet="$(dpkg-architecture -a"$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)"
if [ "$arch" = "$(dpkg --print-architecture)" ]; then
    toolchain=""
    strip=strip
else
    toolchain="-DCMAKE_TOOLCHAIN_FILE=$root/cmake/$arch-toolchain.cmake"
    strip="$triplet-strip"
fi

# Debian's flags (hardening included), as debhelper would pass them; the
# source paths are mapped away so that both builds are reproducible.
cd "$root"
export DEB_BUILD_MAINT_OPTIONS="hardening=+all"
cppflags="$(dpkg-buildflags --get CPPFLAGS)"
cxxflags="$(dpkg-buildflags --get CXXFLAGS)"
# As in the toolchain file: GCC's note on a GCC 7.1 ABI change means nothing here.
[ -z "$toolchain" ] || cxxflags="$cxxflags -Wno-psabi"
ldflags="$(dpkg-buildflags --get LDFLAGS)"

rm -rf "$build/stage" "$build/debian"
cmake -S "$root" -B "$build" $toolchain -DCMAKE_BUILD_TYPE=None -DKELNO_BUILD_TESTS=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_SYSCONFDIR=/etc -DCMAKE_INSTALL_LIBDIR="lib/$triplet" -DCMAKE_SKIP_INSTALL_RPATH=ON \
    -DKELNO_SYSTEMD_UNITDIR=/lib/systemd/system \
    -DCMAKE_CXX_FLAGS="$cppflags $cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" \
    -DCMAKE_SHARED_LINKER_FLAGS="$ldflags"
cmake --build "$build" -j "${JOBS:-2}" --target kelno_util zmq_catapult kelno_messenging \
    kelnod kelno_prompt kelno_mirror_json kelno_json_tester kelno_stats
DESTDIR="$build/stage" cmake --install "$build"
stage="$build/stage"
libdir="usr/lib/$triplet"
[ -e "$stage/$libdir/libkelno_util.so" ] || { echo "libraries not in /$libdir" >&2; exit 1; }

# dpkg-shlibdeps reads the packages' trees as debian/<package>.
work="$build/debian"
mkdir -p "$work"
cat > "$work/control" <<CONTROL
Source: kelno
Maintainer: $maintainer

Package: kelnod
Architecture: $arch

Package: libkelno
Architecture: $arch

Package: libkelno-dev
Architecture: $arch

Package: kelno-tools
Architecture: $arch
CONTROL

# place <package> <path under the stage>...: moves the paths into the package.
place() {
    package="$1"; shift
    for path in "$@"; do
        mkdir -p "$work/$package/$(dirname "$path")"
        mv "$stage/$path" "$work/$package/$path"
    done
}
place kelnod usr/bin/kelnod etc/kelnod.conf lib/systemd/system/kelnod.service \
    usr/share/man/man1/kelnod.1
place libkelno $(cd "$stage" && ls $libdir/lib*.so.*)
place libkelno-dev usr/include $(cd "$stage" && ls $libdir/lib*.so) $libdir/pkgconfig
place kelno-tools usr/bin/kelno_prompt usr/bin/kelno_mirror_json usr/bin/kelno_json_tester \
    usr/bin/kelno_stats \
    $(cd "$stage" && ls usr/share/man/man1/kelno_*.1)
left="$(cd "$stage" && find . ! -type d)"
[ -z "$left" ] || { echo "Installed but in no package:" $left >&2; exit 1; }

# What dh_strip, dh_compress and dh_installdocs would do.
for package in kelnod kelno-tools; do
    for program in "$work/$package"/usr/bin/*; do
        "$strip" --remove-section=.comment --remove-section=.note "$program"
    done
done
for library in "$work/libkelno/$libdir"/lib*.so.*.*; do
    "$strip" --remove-section=.comment --remove-section=.note --strip-unneeded "$library"
    chmod 644 "$library"
done
find "$work" -path '*/usr/share/man/*' -type f -exec gzip -9n {} +
for package in kelnod libkelno libkelno-dev kelno-tools; do
    doc="$work/$package/usr/share/doc/$package"
    mkdir -p "$doc"
    cp "$root/packaging/debian/copyright" "$doc/copyright"
    sed "s/@VERSION@/$version/" "$root/packaging/debian/changelog" | gzip -9n > "$doc/changelog.gz"
    if [ -f "$root/packaging/debian/$package.lintian-overrides" ]; then
        mkdir -p "$work/$package/usr/share/lintian/overrides"
        cp "$root/packaging/debian/$package.lintian-overrides" \
            "$work/$package/usr/share/lintian/overrides/$package"
    fi
    mkdir -p "$work/$package/DEBIAN"
done
find "$work" -type d -exec chmod 755 {} +

# The libraries' dependency line for the packages that link them; ldconfig
# runs after the libraries are installed or removed.
for library in kelno_util zmq_catapult kelno_messenging; do
    soversion="$(cd "$work/libkelno/$libdir" && ls lib$library.so.* | sed -n "s/^lib$library\.so\.\([0-9]*\)$/\1/p")"
    echo "lib$library $soversion libkelno (>= $version)"
done > "$work/libkelno/DEBIAN/shlibs"
echo "activate-noawait ldconfig" > "$work/libkelno/DEBIAN/triggers"
echo "/etc/kelnod.conf" > "$work/kelnod/DEBIAN/conffiles"

depends() {  # the shared libraries the package's ELF files need, as Depends (not itself)
    (cd "$build" && dpkg-shlibdeps -O -x"$1" -e $(find "debian/$1" -type f \( -path '*/usr/bin/*' -o -name '*.so.*' \)) \
        2>/dev/null | sed -n 's/^shlibs:Depends=//p')
}

# control <package> <section> <multi-arch> <depends> <summary> <description>
control() {
    size="$(du -k -s --exclude=DEBIAN "$work/$1" | cut -f1)"
    {
        echo "Package: $1"
        echo "Version: $version"
        echo "Architecture: $arch"
        [ -z "$3" ] || echo "Multi-Arch: $3"
        echo "Maintainer: $maintainer"
        echo "Installed-Size: $size"
        echo "Depends: $4"
        echo "Section: $2"
        echo "Priority: optional"
        echo "Description: $5"
        printf '%s\n' "$6" | fold -s -w 72 | sed 's/ *$//; s/^/ /'
    } > "$work/$1/DEBIAN/control"
    (cd "$work/$1" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | LC_ALL=C sort -z \
        | xargs -0 md5sum > DEBIAN/md5sums)
}

control libkelno libs same "$(depends libkelno)" "Kelno message bus: shared libraries" \
    "Kelno is a small message bus for Linux machines: applications exchange addressed messages through a node daemon on their machine, and daemons on several machines are chained. This package holds the three libraries: libkelno_util (exceptions with context, properties files, UUIDs), libzmq_catapult (the ZeroMQ socket layer) and libkelno_messenging (messages and the client kelnom::Client)."
control libkelno-dev libdevel same "libkelno (= $version), libzmq3-dev, uuid-dev" \
    "Kelno message bus: development files" \
    "Kelno is a small message bus for Linux machines. This package holds the C++ headers (kelnou/, cplt/, kelnom/) and the pkg-config files kelno_util, zmq_catapult and kelno_messenging, to build applications that use kelnom::Client."
control kelnod net "" "$(depends kelnod)" "Kelno message bus: node daemon" \
    "Kelno is a small message bus for Linux machines. kelnod serves the applications of one machine over ZeroMQ and TCP, keeps messages for other nodes and passes them up its chain. The package holds the daemon, its configuration /etc/kelnod.conf and a systemd unit, which is not enabled: set the node name first, then run systemctl enable --now kelnod."
control kelno-tools net "" "$(depends kelno-tools)" "Kelno message bus: console tools" \
    "Kelno is a small message bus for Linux machines. This package holds four tools that use the bus: kelno_prompt sends and receives messages from a console, kelno_mirror_json prints the messages of some applications, kelno_json_tester sends a JSON test document every five seconds, and kelno_stats prints a node's statistics."

mkdir -p "$out"
for package in kelnod libkelno libkelno-dev kelno-tools; do
    dpkg-deb --root-owner-group -Zxz --build "$work/$package" "$out/${package}_${version}_$arch.deb" >/dev/null
done
ls -l "$out"/*_"$version"_"$arch".deb
lintian --fail-on error,warning --info "$out"/*_"$version"_"$arch".deb

# The programs and libraries are the architecture's own.
case "$arch" in
    amd64) machine="x86-64" ;;
    armhf) machine="ARM, EABI5" ;;
    *) machine="" ;;
esac
for elf in $(find "$work" -type f \( -path '*/usr/bin/*' -o -name '*.so.*' \)); do
    description="$(file -b "$elf")"
    echo "${elf#$work/}: $description"
    case "$description" in
        *"$machine"*) ;;
        *) echo "not a $arch file: $elf" >&2; exit 1 ;;
    esac
done
