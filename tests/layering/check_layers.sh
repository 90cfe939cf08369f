#!/bin/bash
# Dependencies point one way: window -> widget kit, text files, controls ->
# protocol library -> Qt Core and Network; the protocol library and the text
# files -> text core -> Qt Core. Fails, naming the line, when a file includes
# a header of a layer above its own or a Qt module its layer must not use.
set -uo pipefail
src=${1:-$(cd "$(dirname "$0")/../../src" && pwd)}
status=0

# Header names of each layer, as they are included.
names() { (cd "$src/$1" && find . -name '*.h' ${2:-} | sed 's|^\./||'); }
proto_dir=inetctl/proto
controls=$(cd "$src/inetctl" && find . -maxdepth 1 -name '*.h' | sed 's|^\./||')
window=$(cd "$src/mailform" && find . -maxdepth 1 -name '*.h' | sed 's|^\./||'; echo ui_mailform.h)
widgets=$(names mailform/widgets)
textio=$(names textio)
proto=$(names "$proto_dir")

# check DIR FIND-ARGS WHAT FORBIDDEN QT: every #include of the files in DIR,
# read in one pass (a process per include line took most of a second per
# hundred lines). FORBIDDEN holds header names, one a line; QT an extended
# regular expression of Qt headers, where \b stands for a word's end.
check() {
    local dir=$1 depth=$2 what=$3
    find "$src/$dir" $depth -name '*.h' -o $depth -name '*.cpp' | sort |
        FORBIDDEN=$4 QT=$5 SRC=$src/ WHAT=$what xargs -r awk '
            BEGIN {
                n = split(ENVIRON["FORBIDDEN"], names, "\n")
                for (i = 1; i <= n; i++)
                    if (names[i] != "")
                        bad[names[i]] = 1
                qt = ENVIRON["QT"]
                gsub(/\\b/, "([^A-Za-z0-9_]|$)", qt)
            }
            /^[[:space:]]*#include/ {
                name = $0
                if (match(name, /#include +["<][^">]+[">]/)) {
                    name = substr(name, RSTART, RLENGTH)
                    sub(/^#include +["<]/, "", name)
                    sub(/[">]$/, "", name)
                }
                if ((name in bad) || (qt != "" && name ~ qt)) {
                    printf "%s: %s:%d includes %s\n", ENVIRON["WHAT"], substr(FILENAME, length(ENVIRON["SRC"]) + 1), FNR, name
                    found = 1
                }
            }
            END { exit found }' || status=1
}

check "$proto_dir" "" "protocol library" "$(printf '%s\n' $controls $window $widgets $textio)" \
      '^(Qt(Widgets|Gui)/|Q(Widget|Application|GuiApplication|TextDocument|TextEdit|Pixmap|Image|Font)\b)'
# The program reaches the engines only through the module it opens at the
# first Connect (src/inetctl/engines): above the protocol library nothing
# includes what brings in the network libraries.
engines_only="net/inetsession.h net/certquestion.h net/userstore.h net/tlserrors.h smtp/smtpsession.h pop/popsession.h"
network='^(QtNetwork/|Q(Ssl[A-Za-z]*|TcpSocket|TcpServer|AbstractSocket|HostAddress|HostInfo|NetworkProxy)\b)'
check inetctl "-maxdepth 1" "controls" "$(printf '%s\n' $window $widgets $textio $engines_only)" "$network"
check mailform/widgets "" "widget kit" "$(printf '%s\n' $window $controls $textio $engines_only)" "$network"
check mailform "-maxdepth 1" "window" "$(printf '%s\n' $engines_only)" "$network"
check textcore "" "text core" "$(printf '%s\n' $proto $controls $window $widgets $textio)" \
      '^(Qt(Widgets|Gui|Network)/|Q(Widget|Application|GuiApplication|TextDocument|Pixmap|Image|Font|TcpSocket|SslSocket|AbstractSocket|HostAddress)\b)'
check textio "" "text files" "$(printf '%s\n' $window $controls $widgets)" '^(Qt(Widgets)/|Q(Widget|Application|TextEdit)\b)'
[ $status = 0 ] && echo "layers hold"
exit $status
