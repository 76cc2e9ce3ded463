# Helpers of the Windows build and its checks under Wine; sourced by
# build-windows.sh and test-windows.sh, from the repository's root.

# hidapi for Windows: Debian has no MinGW build of it, so its sources come as
# the npm package node-hid 3.4.0 carries them (hidapi 0.15.0, under
# package/hidapi), checked against the registry's digest of that tarball.
QUORL_NODE_HID_VERSION=3.4.0
QUORL_NODE_HID_SHA1=dca0b7eb00eb9ee8bc652ef0437e30ed1889fba4
QUORL_HIDAPI_VERSION=0.15.0
QUORL_MINGW_TOOLCHAIN=cmake/mingw-w64-x86_64.cmake

# cpp-httplib for Windows: the single header httplib.h of the very source
# package Debian builds its libcpp-httplib-dev from (the same release and
# Debian's patches to it), fetched with apt-get source and checked against
# these digests. Debian packages no MinGW build of it.
QUORL_HTTPLIB_DEBIAN_VERSION=0.11.4+ds-1+deb12u1
QUORL_HTTPLIB_SHA256="\
a4dde747bbde7cc9fa62cdf50d61140a0eaefb7f1383497ef2d48daf3bf5f9ec  cpp-httplib_0.11.4+ds-1+deb12u1.dsc
8b1a5df569003b6a4f24c68489bbda5c64aec94697bdc9ebba5d79408b2ae7eb  cpp-httplib_0.11.4+ds.orig.tar.xz
a0adf8a38610806f6d94ba69839438635e5e6580775e28ff31d6a081e34f1484  cpp-httplib_0.11.4+ds-1+deb12u1.debian.tar.xz"

# Installs the cross compiler, Wine and npm from Debian's packages (with the
# base build's packages, through setup.sh, among them GoogleTest's sources and
# nlohmann-json), and socat, which stands in for a serial device under Wine.
# An npm already on the PATH serves.
quorl_windows_setup() {
  local packages=(g++-mingw-w64-x86-64-posix wine wine64 ca-certificates socat dpkg-dev)
  command -v npm >/dev/null 2>&1 || packages+=(npm)
  scripts/setup.sh "${packages[@]}"
  quorl_debian_sources
}

# Debian's source packages, for apt-get source: a deb-src entry for the main
# archive when none is there yet (a Debian 12 install has none by default).
quorl_debian_sources() {
  if grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
    return
  fi
  local sudo=""
  [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo tee /etc/apt/sources.list.d/quorl-src.sources >/dev/null <<'SOURCES'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
  $sudo apt-get update
}

# quorl_windows_httplib DEPS: httplib.h as Debian's source package has it
# once its patches are applied, in DEPS/cpp-httplib-VERSION/include, which it
# puts in QUORL_HTTPLIB_INCLUDE. Fetched once; the files are checked each time
# they are unpacked. Header only: no TLS, no compression for the page.
quorl_windows_httplib() {
  local deps include sources
  deps=$(mkdir -p "$1" && cd "$1" && pwd)
  include="$deps/cpp-httplib-$QUORL_HTTPLIB_DEBIAN_VERSION/include"
  QUORL_HTTPLIB_INCLUDE=$include
  [ -f "$include/httplib.h" ] && return
  if ! (cd "$deps" && sha256sum --check --status <<<"$QUORL_HTTPLIB_SHA256" 2>/dev/null); then
    (cd "$deps" && apt-get -qq source --download-only "cpp-httplib=$QUORL_HTTPLIB_DEBIAN_VERSION" 2>&1 |
      grep -vE 'unsandboxed|packaging is maintained|salsa.debian.org|^Please use:|^to retrieve the latest') || true
  fi
  if ! (cd "$deps" && sha256sum --check --status <<<"$QUORL_HTTPLIB_SHA256"); then
    echo "Debian's cpp-httplib $QUORL_HTTPLIB_DEBIAN_VERSION source package is missing or not as expected" \
         "(is there a deb-src entry?)" >&2
    return 1
  fi
  sources="$deps/cpp-httplib-sources"
  rm -rf "$sources"
  # Every file is checked above; the package's signature needs a keyring
  # that a build machine may lack.
  (cd "$deps" && dpkg-source --no-check -x "cpp-httplib_$QUORL_HTTPLIB_DEBIAN_VERSION.dsc" "$sources" >/dev/null)
  mkdir -p "$include"
  cp "$sources/httplib.h" "$include/"
  rm -rf "$sources"
}

# quorl_windows_hidapi DEPS: hidapi built for Windows as a static library with
# its own CMake, installed into DEPS/hidapi-VERSION (its CMake package under
# lib/cmake/hidapi, its licence files under share/doc/hidapi), which it puts
# in QUORL_HIDAPI_PREFIX. Nothing is fetched or built when it is there already.
quorl_windows_hidapi() {
  local deps prefix tarball sources
  deps=$(mkdir -p "$1" && cd "$1" && pwd)
  prefix="$deps/hidapi-$QUORL_HIDAPI_VERSION"
  QUORL_HIDAPI_PREFIX=$prefix
  if [ -f "$prefix/lib/cmake/hidapi/hidapi-config.cmake" ]; then
    return
  fi
  tarball="$deps/node-hid-$QUORL_NODE_HID_VERSION.tgz"
  if [ ! -f "$tarball" ] || ! echo "$QUORL_NODE_HID_SHA1  $tarball" | sha1sum --check --status; then
    rm -f "$tarball"
    # A registry that answers late once should not fail the whole run.
    local attempt
    for attempt in 1 2 3; do
      (cd "$deps" && npm pack "node-hid@$QUORL_NODE_HID_VERSION" --ignore-scripts --loglevel=error) && break
      [ "$attempt" = 3 ] && return 1
      echo "npm pack failed; trying again in 10 s" >&2
      sleep 10
    done
  fi
  if ! echo "$QUORL_NODE_HID_SHA1  $tarball" | sha1sum --check --status; then
    echo "node-hid-$QUORL_NODE_HID_VERSION.tgz does not have the expected SHA-1 $QUORL_NODE_HID_SHA1" >&2
    return 1
  fi
  sources="$deps/node-hid-$QUORL_NODE_HID_VERSION"
  rm -rf "$sources" "$deps/hidapi-build"
  mkdir -p "$sources"
  tar -xzf "$tarball" -C "$sources" package/hidapi
  if [ "$(cat "$sources/package/hidapi/VERSION")" != "$QUORL_HIDAPI_VERSION" ]; then
    echo "node-hid-$QUORL_NODE_HID_VERSION carries no hidapi $QUORL_HIDAPI_VERSION" >&2
    return 1
  fi
  cmake -S "$sources/package/hidapi" -B "$deps/hidapi-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/$QUORL_MINGW_TOOLCHAIN" -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_SHARED_LIBS=OFF -DHIDAPI_WITH_TESTS=OFF -DCMAKE_INSTALL_PREFIX="$prefix"
  cmake --build "$deps/hidapi-build" --parallel 2
  cmake --install "$deps/hidapi-build" >/dev/null
  mkdir -p "$prefix/share/doc/hidapi"
  cp "$sources"/package/hidapi/LICENSE*.txt "$prefix/share/doc/hidapi/"
}

# quorl_windows_googletest DEPS: GoogleTest built for Windows from the sources
# that Debian's libgtest-dev installs (/usr/src/googletest), as static
# libraries, installed into DEPS/googletest-VERSION (its CMake package under
# lib/cmake/GTest), which it puts in QUORL_GTEST_PREFIX. Built once. Win32
# threads: the suite has one thread, and MinGW's pthreads would be a second
# threading model for GoogleTest to agree on with the tests.
quorl_windows_googletest() {
  local deps version prefix
  deps=$(mkdir -p "$1" && cd "$1" && pwd)
  version=$(dpkg-query -W -f='${Version}' libgtest-dev)
  version=${version%%-*}
  prefix="$deps/googletest-$version"
  QUORL_GTEST_PREFIX=$prefix
  if [ -f "$prefix/lib/cmake/GTest/GTestConfig.cmake" ]; then
    return
  fi
  rm -rf "$deps/googletest-build"
  cmake -S /usr/src/googletest -B "$deps/googletest-build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/$QUORL_MINGW_TOOLCHAIN" -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_GMOCK=OFF -Dgtest_disable_pthreads=ON -DCMAKE_INSTALL_PREFIX="$prefix"
  cmake --build "$deps/googletest-build" --parallel 2
  cmake --install "$deps/googletest-build" >/dev/null
}

# quorl_windows_nlohmann_json DEPS: the header-only libraries, nlohmann-json
# and CLI11, as Debian's nlohmann-json3-dev and libcli11-dev install them,
# copied into DEPS/nlohmann_json (headers and CMake packages), which it puts
# in QUORL_JSON_PREFIX: the cross build must not take /usr/include, where the
# build machine's C library lives.
quorl_windows_nlohmann_json() {
  local deps prefix
  deps=$(mkdir -p "$1" && cd "$1" && pwd)
  prefix="$deps/nlohmann_json"
  QUORL_JSON_PREFIX=$prefix
  rm -rf "$prefix"
  mkdir -p "$prefix/include" "$prefix/share/cmake"
  cp -r /usr/include/nlohmann /usr/include/CLI "$prefix/include/"
  cp -r /usr/share/cmake/nlohmann_json /usr/share/cmake/CLI11 "$prefix/share/cmake/"
}

# quorl_wine_start PREFIX: a private Wine prefix for this run, quiet, without
# the Mono and Gecko prompts, started once (the first start takes tens of
# seconds) and kept running until quorl_wine_stop.
quorl_wine_start() {
  mkdir -p "$1"
  WINEPREFIX=$(cd "$1" && pwd)
  export WINEPREFIX
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  # Arguments and file names in UTF-8 become the programs' wide text.
  export LC_ALL=C.UTF-8
  # A server of this prefix that is running already (an earlier run's)
  # serves as well.
  wineserver --persistent 2>/dev/null || true
  wineboot --init >/dev/null 2>&1 || true
}

quorl_wine_stop() {
  wineserver --kill || true
}
