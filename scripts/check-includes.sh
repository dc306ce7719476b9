#!/usr/bin/env bash
# The arrows of the architecture, checked on the sources: a lower layer
# never includes a higher one. Prints every offending line; exits 1 on any.
# With --map it prints the arrows that exist instead (module -> the modules
# it includes, with the number of include lines), and checks nothing.
set -uo pipefail
cd "$(dirname "$0")/.."

# The module of a source folder or of an include's first path part.
modules='common platform net zip weblog uiframework config engine system telemetry crash install window app'
module_dir() {
  case "$1" in
    common|platform|zip|weblog|uiframework) [ -d "$1" ] && echo "$1" || echo "src/$1" ;;
    *) echo "src/$1" ;;
  esac
}
if [ "${1:-}" = "--map" ]; then
  for m in $modules; do
    dir=$(module_dir "$m")
    [ -d "$dir" ] || continue
    arrows=""
    for n in $modules; do
      [ "$n" = "$m" ] && continue
      count=$(grep -rhE "^#include \"$n/" "$dir" --include='*.h' --include='*.cc' | wc -l)
      [ "$count" -gt 0 ] && arrows="$arrows $n($count)"
    done
    printf '%-12s ->%s\n' "$m" "${arrows:- (nothing)}"
  done
  exit 0
fi

status=0
# forbid FOLDER NAMES WHY: no file under FOLDER includes a header of the
# folders NAMES ("a|b|c").
forbid() {
  local hits
  hits=$(grep -rnE "^#include \"($2)/" "$1" --include='*.h' --include='*.cc' || true)
  if [ -n "$hits" ]; then
    echo "include check: $1 must not include $2 ($3):"
    echo "$hits"
    status=1
  fi
}

forbid platform 'config|engine|install|window|system|telemetry|app|crash|ui|uiframework|weblog|zip|tools|tests' \
  "the platform layer sits below everything but common/"
forbid common 'platform|net|zip|config|engine|install|window|system|telemetry|app|crash|uiframework|weblog' \
  "common/ is the bottom"
forbid src 'tools|tests' "programs and tests are built on the sources, never the other way"
forbid src/net 'config|engine|install|window|system|telemetry|app|crash|uiframework|weblog|zip' \
  "the transport policy sits below every module that makes a request"
forbid src/install 'window|app' "the install flow reaches the window through install_window.h"
forbid src/window 'engine|app' "the window reaches downloads through what it is given"
for lower in src/engine src/config src/system src/telemetry src/crash; do
  forbid "$lower" 'install|window|app' "$lower is below the install flow and the window"
done
forbid uiframework 'config|engine|install|window|system|telemetry|app|crash' \
  "the UI framework knows no setup"
forbid weblog 'engine|install|window|system|telemetry|app|crash|uiframework|zip' \
  "the web log is a transport: it knows requests, not the setup"
# Of the configuration, the web log reads only the services' addresses.
hits=$(grep -rnE '^#include "config/' weblog --include='*.h' --include='*.cc' |
  grep -v '"config/services.h"' || true)
if [ -n "$hits" ]; then
  echo "include check: weblog may include only config/services.h of config:"
  echo "$hits"
  status=1
fi
forbid zip 'config|engine|install|window|system|telemetry|app|crash|uiframework|weblog' \
  "the zip reader and writer sit below the configuration and the UI framework"
exit $status
