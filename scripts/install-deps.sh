#!/usr/bin/env bash
# Installs the Debian 12 packages the project builds, tests and runs with.
# Idempotent: packages already present are left alone, and apt is not touched
# at all when nothing is missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake make
  libcurl4-openssl-dev          # server link (HTTP)
  libmsgpack-cxx-dev            # wire encoding (header-only msgpack-c 4)
  libspdlog-dev libfmt-dev      # plug-in log file
  libstb-dev                    # font rasterising, image files in tests
  libboost-dev                  # base64 archive iterators
  libpng-dev libopenexr-dev     # rendering front end: PNG and EXR files
  libdeflate-dev pkg-config     # rendering front end: fast PNG compression
  libgtest-dev libgmock-dev     # unit tests
  libbenchmark-dev              # make bench
  clang libclang-rt-14-dev      # libFuzzer targets, sanitizer runtimes
  python3 python3-msgpack python3-numpy   # reference processing server
  slurmd slurmctld slurm-client munge     # farm tests and bench: Slurm clusters in a scratch folder
  iproute2                                # the farm cluster's namespaces: bridge, veth links, addresses
  dpkg-dev                      # make package: dpkg-shlibdeps finds the libraries a node needs
  help2man                      # manual pages of the commands, from their --help
  lintian                       # Debian's checker, run on the package by the package tests
  nlohmann-json3-dev            # reports, summaries and the merge: JSON reading and writing
  libopenimageio-dev            # rendering front end: TIFF, DPX, JPEG and other image files
  openimageio-tools             # tests: oiiotool writes the image files that no one here wrote
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#PACKAGES[@]} packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
