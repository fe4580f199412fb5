#!/bin/sh
# Renders the PNG icons from rtu-station.svg (needs librsvg2-bin and imagemagick). The PNGs are
# kept in the tree so that a build needs neither.
set -e
cd "$(dirname "$0")"
for size in 48 256; do
    rsvg-convert -w "$size" -h "$size" rtu-station.svg | convert - -strip "PNG32:rtu-station-$size.png"
done
