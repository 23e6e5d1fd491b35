# Sourced by the scripts: installs the Debian packages the build needs, and
# does nothing slow when they are all present.
VRN_PACKAGES="cmake g++ make pkg-config libcgns-dev libhdf5-dev zlib1g-dev libaec-dev libgtest-dev libbenchmark-dev libsqlite3-dev"
# The fuzz run (scripts/test.sh --fuzz): clang with libFuzzer and the
# sanitizer runtimes of its version.
VRN_FUZZ_PACKAGES="clang libclang-rt-dev"

# vrn_ensure_packages [LIST]: the packages of LIST, by default VRN_PACKAGES.
vrn_ensure_packages() {
    local missing=""
    local p
    for p in ${1:-$VRN_PACKAGES}; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing="$missing $p"
        fi
    done
    [ -z "$missing" ] && return 0
    echo "Installing:$missing"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    # Passed through env: sudo drops the caller's environment, and a package
    # that asks a question (tzdata) would otherwise stop the script.
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    # shellcheck disable=SC2086
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $missing
}
