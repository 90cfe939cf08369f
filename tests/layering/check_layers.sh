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

# check DIR FIND-ARGS -- forbidden header names... / forbidden Qt patterns
check() {
    local dir=$1 depth=$2 what=$3 forbidden=$4 qt=$5
    while IFS= read -r file; do
        while IFS= read -r hit; do
            [ -z "$hit" ] && continue
            local line=${hit%%:*} inc=${hit#*:}
            local name
            name=$(sed -E 's/.*#include +["<]([^">]+)[">].*/\1/' <<<"$inc")
            if grep -qxF "$name" <<<"$forbidden" || { [ -n "$qt" ] && grep -qE "$qt" <<<"$name"; }; then
                echo "$what: ${file#$src/}:$line includes $name"
                status=1
            fi
        done < <(grep -nE '^[[:space:]]*#include' "$file")
    done < <(find "$src/$dir" $depth -name '*.h' -o $depth -name '*.cpp')
}

check "$proto_dir" "" "protocol library" "$(printf '%s\n' $controls $window $widgets $textio)" \
      '^(Qt(Widgets|Gui)/|Q(Widget|Application|GuiApplication|TextDocument|TextEdit|Pixmap|Image|Font)\b)'
check inetctl "-maxdepth 1" "controls" "$(printf '%s\n' $window $widgets $textio)" ''
check mailform/widgets "" "widget kit" "$(printf '%s\n' $window $controls $textio)" ''
check textcore "" "text core" "$(printf '%s\n' $proto $controls $window $widgets $textio)" \
      '^(Qt(Widgets|Gui|Network)/|Q(Widget|Application|GuiApplication|TextDocument|Pixmap|Image|Font|TcpSocket|SslSocket|AbstractSocket|HostAddress)\b)'
check textio "" "text files" "$(printf '%s\n' $window $controls $widgets)" '^(Qt(Widgets)/|Q(Widget|Application|TextEdit)\b)'
[ $status = 0 ] && echo "layers hold"
exit $status
