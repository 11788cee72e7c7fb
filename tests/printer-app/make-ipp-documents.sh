#!/bin/sh
# Makes the sample documents that CUPS's ipptool files print (ipp-1.1,
# ipp-2.x, ipp-everywhere), which Debian does not install: without them
# ipptool skips the print tests, or stops at the first missing one, and
# still exits 0.  Everything is drawn here with Ghostscript.
#
#   make-ipp-documents.sh OUTDIR [RESOLUTION...]
#
# OUTDIR gets document-a4/-letter .pdf and .ps (two pages of text each),
# color.jpg and gray.jpg, and for each resolution (default 600) the PWG
# raster files ipp-everywhere.test looks for:
#   pwg-raster-samples-RESdpi/TYPE/{document,onepage}-{a4,letter}-TYPE-RESdpi.pwg
#   pwg-raster-samples-RESdpi/TYPE/{color,gray}.jpg-4x6-TYPE-RESdpi.pwg
# TYPE is each of $PWG_TYPES (default "sgray-8"; also black-1, srgb-8,
# srgb-16, cmyk-8).  The other raster files ipp-everywhere.test names are
# there empty.  Run ipptool with OUTDIR as its working directory.
set -eu

out=${1:?usage: make-ipp-documents.sh OUTDIR [RESOLUTION...]}
shift
resolutions=${*:-600}
types=${PWG_TYPES:-sgray-8}
mkdir -p "$out"

# Ghostscript's raster devices say "INFO: Processing page..." on stderr:
# its messages are shown only when it fails.
gs_run() {
  gs -q -dBATCH -dNOPAUSE -dSAFER "$@" 2>"$out/.gs-messages" || {
    cat "$out/.gs-messages" >&2
    exit 1
  }
}

# A text document of $2 pages at $3 x $4 points.
text_document() {
  cat <<EOF
%!PS-Adobe-3.0
%%Title: $1
%%Pages: $2
%%BoundingBox: 0 0 $3 $4
%%EndComments
<< /PageSize [$3 $4] >> setpagedevice
/Helvetica-Bold findfont 20 scalefont setfont
EOF
  page=1
  while [ "$page" -le "$2" ]; do
    cat <<EOF
%%Page: $page $page
/Helvetica-Bold findfont 20 scalefont setfont
72 $4 100 sub moveto ($1, page $page of $2) show
/Times-Roman findfont 11 scalefont setfont
0 1 39 {
  /line exch def
  72 $4 140 sub line 14 mul sub moveto
  (Line ) show line 1 add 3 string cvs show
  (: the quick brown fox jumps over the lazy dog 0123456789.) show
} for
0.5 setgray 72 72 moveto $3 144 sub 0 rlineto 0 36 rlineto $3 144 sub neg 0 rlineto closepath fill
showpage
EOF
    page=$((page + 1))
  done
  echo "%%EOF"
}

text_document "document-a4" 2 595 842 >"$out/document-a4.ps"
text_document "document-letter" 2 612 792 >"$out/document-letter.ps"
text_document "onepage-a4" 1 595 842 >"$out/onepage-a4.ps"
text_document "onepage-letter" 1 612 792 >"$out/onepage-letter.ps"
for doc in document-a4 document-letter; do
  gs_run -sDEVICE=pdfwrite -o "$out/$doc.pdf" "$out/$doc.ps"
done

# The photographs: a colour and a grey picture, 4x6 inches at 150 dpi.
cat >"$out/picture.ps" <<'EOF'
%!PS
<< /PageSize [432 288] >> setpagedevice
0 1 431 { /x exch def
  x 431 div 1 x 431 div sub 0.5 setrgbcolor
  x 0 1 288 rectfill } for
1 setgray 216 144 80 0 360 arc fill
0 setgray /Helvetica-Bold findfont 36 scalefont setfont 120 130 moveto (Sample) show
showpage
EOF
gs_run -sDEVICE=jpeg -r150 -dJPEGQ=85 -o "$out/color.jpg" "$out/picture.ps"
gs_run -sDEVICE=jpeggray -r150 -dJPEGQ=85 -o "$out/gray.jpg" "$out/picture.ps"

# PWG raster: the colour space and bits per colour of each type.
raster_options() {
  case $1 in
    black-1) echo "-dcupsColorSpace=3 -dcupsBitsPerColor=1" ;;
    sgray-8) echo "-dcupsColorSpace=18 -dcupsBitsPerColor=8" ;;
    srgb-8) echo "-dcupsColorSpace=19 -dcupsBitsPerColor=8" ;;
    srgb-16) echo "-dcupsColorSpace=19 -dcupsBitsPerColor=16" ;;
    cmyk-8) echo "-dcupsColorSpace=6 -dcupsBitsPerColor=8" ;;
    *) echo "make-ipp-documents.sh: unknown raster type $1" >&2; exit 2 ;;
  esac
}

for res in $resolutions; do
  for type in $types; do
    dir="$out/pwg-raster-samples-${res}dpi/$type"
    mkdir -p "$dir"
    opts=$(raster_options "$type")
    for doc in document-a4 document-letter onepage-a4 onepage-letter; do
      # shellcheck disable=SC2086  # opts is a list of options
      gs_run -sDEVICE=pwgraster $opts -r"$res" -o "$dir/$doc-$type-${res}dpi.pwg" "$out/$doc.ps"
    done
    for pic in color gray; do
      # shellcheck disable=SC2086
      gs_run -sDEVICE=pwgraster $opts -r"$res" -dDEVICEWIDTHPOINTS=288 -dDEVICEHEIGHTPOINTS=432 \
        -dFIXEDMEDIA -o "$dir/$pic.jpg-4x6-$type-${res}dpi.pwg" \
        -c "<< /Install { 288 0 translate 90 rotate } >> setpagedevice" -f "$out/picture.ps"
    done
  done
done
# ipptool opens every file a test names as it reads the test, even one it
# then skips for a printer without that resolution or raster type: those
# exist, empty (a printer that advertises them gets their real files above).
sed -n 's/^[[:space:]]*FILE[[:space:]]\{1,\}\(pwg-raster-samples[^[:space:]]*\).*/\1/p' \
  /usr/share/cups/ipptool/ipp-everywhere.test | sort -u | while read -r f; do
    [ -e "$out/$f" ] && continue
    mkdir -p "$out/$(dirname "$f")" && : >"$out/$f"
  done
rm -f "$out/picture.ps" "$out/onepage-a4.ps" "$out/onepage-letter.ps" "$out/.gs-messages"
