#!/usr/bin/env bash
# Builds a Release tree without tests or benchmarks and packs it with CPack's DEB generator into
# dist/heliostat_<version>_amd64.deb. The version is the one in the top-level project() call;
# shared-library dependencies come from dpkg-shlibdeps.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

# BUILD_DIR chooses another build directory (default build-package/).
build=${BUILD_DIR:-build-package}
# Debian's own compiler and linker flags (-O2, stack protector, fortify, relro) in place of
# CMake's -O3, under which GCC 12 also raises false -Warray-bounds alarms that -Werror would stop.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DHELIOSTAT_TESTS=OFF -DHELIOSTAT_BENCHMARKS=OFF -DHELIOSTAT_SANITIZE=OFF \
    -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/heliostat_*.deb
(cd "$build" && cpack -G DEB >/dev/null)

mkdir -p dist
deb=$(ls "$build"/heliostat_*.deb)
cp "$deb" dist/
echo "dist/$(basename "$deb")"
