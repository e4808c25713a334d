#!/usr/bin/env bash
# Builds Meldra and starts it on a fresh Debian 12 machine, installing what is missing.
#   scripts/run.sh                 on the HID simulator (a Sorrel receiver and headset) with a local
#                                  update service that offers a newer receiver firmware
#   scripts/run.sh --hardware      on the real HID devices and the real update service
#   HIDSIM_SCENARIO=file.json scripts/run.sh    on the simulator with your own scenario (docs/hidsim.md)
set -euo pipefail
source "$(dirname "$0")/lib.sh"
# shellcheck disable=SC2086
ensure_packages $BASE_PACKAGES minisign

build="$top/build-run"
# A throwaway key pair of this build's own: its public half is compiled in, its secret half signs what the
# local update service serves, so the demo shows a signed update arriving. Kept with the build, so that
# the compiled-in key and the signing key stay a pair.
key="$build/demo-key"
if [ ! -f "$key/minisign.key" ]; then
    mkdir -p "$key"
    minisign -G -W -f -p "$key/minisign.pub" -s "$key/minisign.key" >/dev/null
fi
configure_and_build "$build" RelWithDebInfo -DMELDRA_BUILD_TESTS=OFF -DMELDRA_BUILD_BENCH=OFF \
    -DMELDRA_UPDATE_PUBLIC_KEY="$(sed -n 2p "$key/minisign.pub")"

if [ "${1:-}" = "--hardware" ]; then
    exec "$build/Meldra"
fi

work=$(mktemp -d)
cleanup() {
    [ -n "${service_pid:-}" ] && kill "$service_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The local update service offers receiver firmware 1.46 (the image the build makes for the receiver),
# signed with the demo key, to the simulated receiver, which runs 1.45.
image="$build/resources/firmware/46d.a92.ff00.1/Sorrel_Dongle_T1.46.0.dfu"
"$build/tools/updateservice/updateservice" --demo --folder "$work/service" --port 0 --image "$image" \
    --sign-key "$key/minisign.key" >"$work/service.log" 2>&1 &
service_pid=$!
for _ in $(seq 100); do grep -q '^MELDRA_UPDATE_URL=' "$work/service.log" && break; sleep 0.1; done
export MELDRA_UPDATE_URL
MELDRA_UPDATE_URL=$(sed -n 's/^MELDRA_UPDATE_URL=//p' "$work/service.log")
[ -n "$MELDRA_UPDATE_URL" ] || { cat "$work/service.log"; exit 1; }

export HIDSIM_CONTROL="${HIDSIM_CONTROL:-$work/hidsim.sock}"
echo "Update service: $MELDRA_UPDATE_URL"
echo "Simulator control: HIDSIM_CONTROL=$HIDSIM_CONTROL $build/tools/hidsimctl/hidsimctl --help"
LD_PRELOAD="$build/libhidsim.so" "$build/Meldra" "$@"
