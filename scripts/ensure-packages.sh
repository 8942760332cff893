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

KIT_BUILD_PACKAGES=(build-essential cmake ninja-build pkg-config libssl-dev libsqlite3-dev)
KIT_TEST_PACKAGES=(libgtest-dev libgmock-dev libbenchmark-dev)
