#!/bin/sh
# tjbench, built against libjpeg-turbo, runs on q32vex's libturbojpeg.so.0
# when LD_LIBRARY_PATH points at it: every subsampling both ways, images
# written, and djpeg reads the streams it wrote.
set -eu
tjbench=$1 libdir=$2 image=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$image" "$work/image.ppm"
cd "$work"
# The loader must take our library, not the system's.
LD_LIBRARY_PATH=$libdir ldd "$tjbench" | grep -q "$libdir/libturbojpeg.so.0" ||
  { echo "tjbench does not load $libdir/libturbojpeg.so.0"; exit 1; }
LD_LIBRARY_PATH=$libdir "$tjbench" image.ppm 80 -benchtime 0.05 -warmup 0 > log.txt 2>&1 ||
  { cat log.txt; exit 1; }
for s in 444 422 420 GRAY; do
  grep -q "JPEG 4:" log.txt || { cat log.txt; exit 1; }
  djpeg "image_${s}_Q80.jpg" > /dev/null || { echo "djpeg cannot read image_${s}_Q80.jpg"; exit 1; }
  [ -s "image_${s}_Q80_full.ppm" ] || { echo "no decoded image for $s"; exit 1; }
done
echo "tjbench ran on $libdir/libturbojpeg.so.0"
