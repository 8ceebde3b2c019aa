# Sourced by the scripts that need Debian packages: install_missing PACKAGE... installs, with apt-get and through
# sudo when not root, those of the packages that are not installed yet, and does nothing when all are.
# shellcheck shell=bash

install_missing() {
    local missing=() p
    for p in "$@"; do
        [[ $(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true) == "install ok installed" ]] || missing+=("$p")
    done
    [[ ${#missing[@]} -eq 0 ]] && return 0
    local sudo=""
    [[ $(id -u) -eq 0 ]] || sudo="sudo"
    echo "$(basename "$0"): installing ${missing[*]}"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}
