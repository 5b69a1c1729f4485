# Shared by the scripts: installs missing Debian packages and makes sure this
# machine can run the 32-bit Windows test programs. Source it, don't run it.

# Runs a command as root: directly when we are root, through sudo otherwise.
as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    else
        sudo "$@"
    fi
}

# ensure_packages PKG...: installs the packages that are not installed yet,
# quietly and without questions. PKG may carry an architecture (wine32:i386).
ensure_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local want_i386=0
    for pkg in "${missing[@]}"; do
        case "$pkg" in *:i386) want_i386=1 ;; esac
    done
    if [ $want_i386 -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
        as_root dpkg --add-architecture i386
    fi
    # A mirror in the middle of a sync serves an index that does not match
    # its release file: try the update again, then install from the base
    # release, whose index rarely changes, before giving up.
    local try
    for try in 1 2 3; do
        as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq >/dev/null 2>&1 && break
        [ $try -lt 3 ] && sleep $((try * 5))
    done
    local install=(as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq
        --no-install-recommends)
    "${install[@]}" "${missing[@]}" >/dev/null && return 0
    local release
    release=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    if [ -n "$release" ]; then
        echo "Installing again from $release alone"
        "${install[@]}" -t "$release" "${missing[@]}" >/dev/null && return 0
    fi
    echo "cannot install these packages: ${missing[*]}" >&2
    return 1
}

# Some kernels are built or booted without 32-bit support, and then the
# 32-bit Wine loader cannot start. qemu-i386 runs it instead, registered with
# binfmt_misc so that every 32-bit program Wine starts goes through it too.
ensure_i386_runner() {
    local loader=/usr/lib/wine/wine
    [ -x $loader ] || return 0
    # VELDER_FORCE_QEMU=1 runs it through qemu even here (cmake/wine-run.sh).
    if [ -n "${VELDER_FORCE_QEMU:-}" ]; then
        ensure_packages qemu-user-static || return 1
    fi
    if $loader --version >/dev/null 2>&1; then
        return 0
    fi
    ensure_packages qemu-user-static
    local misc=/proc/sys/fs/binfmt_misc
    if [ ! -e $misc/register ]; then
        as_root mount -t binfmt_misc binfmt_misc $misc
    fi
    if [ ! -e $misc/qemu-i386 ]; then
        # An i386 executable or shared object, ELF class 32, little-endian.
        local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
        local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
        printf '%s' ":qemu-i386:M::${magic}:${mask}:/usr/bin/qemu-i386-static:F" |
            as_root tee $misc/register >/dev/null
    fi
    if ! $loader --version >/dev/null 2>&1; then
        echo "cannot run 32-bit programs on this machine, not even through qemu-i386" >&2
        return 1
    fi
}

# gamedig, another query program the tests let read the stand-in, from the
# npm registry into ~/.cache/velder/gamedig. Best effort: without Node or the
# registry the tests ask quakestat only. Node comes from Debian when neither
# node nor npm is there.
ensure_gamedig() {
    local dir=$HOME/.cache/velder/gamedig
    [ -x "$dir/node_modules/.bin/gamedig" ] && return 0
    if ! command -v node >/dev/null && ! command -v npm >/dev/null; then
        ensure_packages nodejs npm || return 0
    fi
    command -v npm >/dev/null || return 0
    mkdir -p "$dir" &&
        timeout 300 npm install --prefix "$dir" --no-audit --no-fund --silent gamedig@5 \
            >/dev/null 2>&1 ||
        echo "gamedig could not be installed from the npm registry: the tests ask quakestat only"
    return 0
}
