#!/usr/bin/env bash
# The module must export its entry points under their plain C names, and nothing of its own
# beyond them (it is built with hidden symbols).
set -euo pipefail
module="$1"
exported=$(nm -D --defined-only "$module" | awk '$2 ~ /^[TDRB]$/ {print $3}' | grep -v '^_' | sort)
status=0
for name in IniProc CriaEmiPrevSocial CriaFiltroEmiPrevSocial Initialize Finalize \
            GetPackageInfoTable SetFormFactory PKG_FIS02900_Version; do
    if ! grep -qx "$name" <<<"$exported"; then
        echo "missing export: $name"
        status=1
    fi
done
# C++ symbols of the module's own classes must stay hidden.
if nm -D --defined-only "$module" | grep -q 'TfrmEmiPrevSocial\|rdmEmisGuiaPrv'; then
    echo "internal symbols exported:"
    nm -D --defined-only "$module" | grep 'TfrmEmiPrevSocial\|rdmEmisGuiaPrv' | head
    status=1
fi
[ $status -eq 0 ] && echo "exports ok: $(tr '\n' ' ' <<<"$exported")"
exit $status
