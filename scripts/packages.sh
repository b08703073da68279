# Sourced by the README's commands: make sure the Debian packages a command
# needs are installed, or stop with the exact command that installs them.
#
#   need_packages g++ cmake make python3-numpy
#
# Missing packages are installed with apt-get (through sudo when not root;
# sudo may ask for a password only when the script runs at a terminal).
# Where that is not possible the script stops, printing the command to run;
# it never goes on with a package missing.

installed() {
  [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]
}

need_packages() {
  local missing=() p
  if ! command -v dpkg-query >/dev/null 2>&1; then
    echo "error: dpkg-query not found: this script sets up a Debian machine;" >&2
    echo "       elsewhere install the equivalents of: $*" >&2
    exit 1
  fi
  for p in "$@"; do
    installed "$p" || missing+=("$p")
  done
  [ "${#missing[@]}" -eq 0 ] && return 0

  local cmd="apt-get install -y ${missing[*]}"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
      sudo=(sudo -n)
    elif command -v sudo >/dev/null 2>&1 && [ -t 0 ]; then
      echo "installing ${missing[*]} needs root: sudo asks for your password"
      sudo=(sudo)
    else
      echo "error: missing Debian packages: ${missing[*]}" >&2
      echo "       install them, then run this command again:" >&2
      echo "       sudo apt-get update && sudo $cmd" >&2
      exit 1
    fi
  fi
  echo "installing missing Debian packages: ${missing[*]}"
  if ! { "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq &&
         "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null; }; then
    echo "error: could not install: ${missing[*]}" >&2
    echo "       run: ${sudo:+sudo }apt-get update && ${sudo:+sudo }$cmd" >&2
    exit 1
  fi
  for p in "${missing[@]}"; do
    if ! installed "$p"; then
      echo "error: $p is still not installed; run: ${sudo:+sudo }$cmd" >&2
      exit 1
    fi
  done
}
