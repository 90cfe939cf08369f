#!/bin/bash
# Installs the Debian 12 packages this project needs and that are missing.
#   scripts/deps.sh build   compiler, CMake, Qt 6, fonts
#   scripts/deps.sh demo    build + the private mail servers for the demo
#   scripts/deps.sh test    build + the private mail servers for the tests
#   scripts/deps.sh bench   test + Xvfb tools and the peer mail tools
set -euo pipefail
what=${1:-build}

packages=(g++ make ninja-build cmake pkg-config qt6-base-dev qt6-base-dev-tools libgl-dev
          libxkbcommon-dev libgsasl-dev fonts-wine fonts-liberation2 libxcb-cursor0
          ca-certificates)
case "$what" in
    build) ;;
    demo) packages+=(postfix dovecot-core dovecot-pop3d perl openssl) ;;
    test) packages+=(postfix dovecot-core dovecot-pop3d perl openssl
                     xvfb xdotool xclip x11-utils imagemagick python3
                     desktop-file-utils dbus at-spi2-core) ;;
    bench) packages+=(postfix dovecot-core dovecot-pop3d perl openssl xvfb xdotool x11-utils
                      imagemagick msmtp mpop curl swaks time libx11-dev dbus) ;;
    *) echo "usage: $0 build|demo|test|bench" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "installing: ${missing[*]}"
# Postfix must not configure or start the machine's own mail system.
echo "postfix postfix/main_mailer_type select No configuration" | $sudo debconf-set-selections
policy=/usr/sbin/policy-rc.d
made_policy=
if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
    $sudo chmod +x "$policy"
    made_policy=1
fi
trap '[ -n "$made_policy" ] && $sudo rm -f "$policy"' EXIT
$sudo env DEBIAN_FRONTEND=noninteractive apt-get update -qq
$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
