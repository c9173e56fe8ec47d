# Shared by the scripts in this folder: progress lines, failure messages and
# installing missing Debian packages.

step() { printf '\n==> %s\n' "$*"; }

# fail WHAT WHAT-TO-DO
fail() {
    printf '\nFAILED: %s\nWhat to do: %s\n' "$1" "$2" >&2
    exit 1
}

# need_packages PACKAGE...: installs the Debian packages that are missing.
need_packages() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null ||
            fail "installing ${missing[*]}" "run as root, or install them: apt-get install ${missing[*]}"
        sudo=sudo
    fi
    step "install missing packages: ${missing[*]}"
    $sudo apt-get update -q ||
        fail "apt-get update" "check the network or the Debian mirror, then run this again"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}" ||
        fail "installing ${missing[*]}" "install them by hand: apt-get install ${missing[*]}"
}
