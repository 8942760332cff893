# Sourced by run.sh and test.sh: installs the Debian packages the kit needs when they are missing.
ensure_packages() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    if [ "$(id -u)" -eq 0 ]; then
      apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
    else
      sudo apt-get update && sudo DEBIAN_FRONTEND=noninteractive apt-get install -y "${missing[@]}"
    fi
  fi
}

# Qt for the desktop programs, and a font for their windows where no desktop is installed.
KIT_BUILD_PACKAGES=(build-essential cmake ninja-build pkg-config libssl-dev libsqlite3-dev
  qt6-base-dev fonts-dejavu-core)
KIT_TEST_PACKAGES=(libgtest-dev libgmock-dev libbenchmark-dev)
# libFuzzer and the sanitizer runtimes for clang (fuzz/).
KIT_FUZZ_PACKAGES=(clang libclang-rt-14-dev)
