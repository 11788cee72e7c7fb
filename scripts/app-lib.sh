# Shared by the Printer Application's load and speed scripts (sourced, with
# $build set): a private server whose state, spool and temporary files all
# live in one directory and which listens on a loopback port, its printers,
# IPP requests through ipptool, and the documents the jobs print, made with
# Ghostscript at run time.

# shellcheck disable=SC2154
app="$build/bin/tesvel-printer-app"
app_pid=""

# app_start DIR: a fresh server with everything in DIR; sets app_dir,
# app_pid and app_port.  The caller's trap calls app_stop.  APP_OPTIONS
# adds server options ("-o jobs-at-once=0").
app_start() {
  app_dir=$1
  rm -rf "$app_dir"
  mkdir -p "$app_dir/tmp"
  # shellcheck disable=SC2086
  TESVEL_PRINTER_APP_DIR=$app_dir TMPDIR=$app_dir/tmp "$app" server -o server-port=0 \
    -o log-file="$app_dir/log" -o log-level=info ${APP_OPTIONS:-} > "$app_dir/server.out" 2>&1 &
  app_pid=$!
  app_port=""
  for _ in $(seq 1 300); do
    app_port=$(sed -n "s/.*Listening for connections on 'localhost:\([0-9]*\)'.*/\1/p" "$app_dir/log" \
      2>/dev/null | head -n 1)
    [ -n "$app_port" ] && [ -S "$app_dir/tesvel-printer-app.sock" ] && return 0
    sleep 0.1
  done
  echo "The Printer Application did not start, see $app_dir/log" >&2
  return 1
}

# SIGTERM, ten seconds' grace, then SIGKILL.
app_stop() {
  [ -n "$app_pid" ] || return 0
  kill "$app_pid" 2>/dev/null || true
  for _ in $(seq 1 100); do
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -9 "$app_pid" 2>/dev/null || true
  wait "$app_pid" 2>/dev/null || true
  app_pid=""
}

# When the server stops answering: the end of its log and, with gdb at
# hand, where each of its threads waits.
app_diagnose() {
  echo "--- the last lines of $app_dir/log:"
  tail -n 40 "$app_dir/log"
  app_running || { echo "--- the server has gone"; return 0; }
  if command -v gdb > /dev/null; then
    echo "--- the server's threads:"
    timeout 60 gdb -batch -p "$app_pid" -ex "thread apply all bt 12" 2>&1 | grep -E '^(Thread|#)'
  fi
}

app_running() { [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; }

# app_add NAME DRIVER DEVICE-URI
app_add() {
  TESVEL_PRINTER_APP_DIR=$app_dir "$app" add -d "$1" -m "$2" -v "$3" > /dev/null
}

app_uri() { echo "ipp://127.0.0.1:$app_port/ipp/print/$1"; }

# The server's resident memory in kB.
app_rss_kb() { sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\) kB/\1/p' "/proc/$app_pid/status"; }

# ipp_test FILE OPERATION: writes an ipptool test of OPERATION on the
# command line's printer, once; its other lines come on standard input.
ipp_test() {
  [ -f "$1" ] && return 0
  tmp=$(mktemp "$1.XXXXXX")  # whole, since clients may write it at once
  {
    printf '{\n  NAME "%s"\n  OPERATION %s\n  GROUP operation-attributes-tag\n' "$2" "$2"
    printf '  ATTR charset attributes-charset utf-8\n  ATTR naturalLanguage attributes-natural-language en\n'
    # shellcheck disable=SC2016
    printf '  ATTR uri printer-uri $uri\n'
    cat
    printf '}\n'
  } > "$tmp"
  mv "$tmp" "$1"
}

# app_submit PRINTER JOB-NAME FILE FORMAT COPIES SIDES: Print-Job, without
# waiting for the job; prints the job's id, "busy" when the printer answers
# server-error-busy (PAPPL streams PWG and Apple raster to the driver, so it
# takes them only while the printer is idle), or "failed".
app_submit() {
  ipp_test "$app_dir/submit.test" Print-Job <<'EOF'
  ATTR name requesting-user-name bench
  ATTR name job-name $name
  ATTR mimeMediaType document-format $format
  GROUP job-attributes-tag
  ATTR integer copies $copies
  ATTR keyword sides $sides
  FILE $filename
  STATUS successful-ok
  DISPLAY job-id
EOF
  if answer=$(ipptool -t -T 120 -d name="$2" -d format="$4" -d copies="$5" -d sides="$6" -f "$3" \
      "$(app_uri "$1")" "$app_dir/submit.test" 2>&1); then
    echo "$answer" | sed -n 's/.*job-id (integer) = \([0-9]*\).*/\1/p'
  elif echo "$answer" | grep -q 'got server-error-busy'; then
    echo busy
  else
    echo failed
  fi
}

# app_jobs PRINTER: one CSV line per job:
# id,name,state,time-at-processing,time-at-completed,job-state-message
app_jobs() {
  ipp_test "$app_dir/jobs.test" Get-Jobs <<'EOF'
  ATTR keyword which-jobs all
  ATTR keyword requested-attributes job-id,job-name,job-state,time-at-processing,time-at-completed,job-state-message
  STATUS successful-ok
  DISPLAY job-id
  DISPLAY job-name
  DISPLAY job-state
  DISPLAY time-at-processing
  DISPLAY time-at-completed
  DISPLAY job-state-message
EOF
  ipptool -T 30 -c "$(app_uri "$1")" "$app_dir/jobs.test" | sed 1d
}

# app_printer_idle PRINTER: true when it prints nothing and has nothing queued.
app_printer_idle() {
  ipp_test "$app_dir/printer.test" Get-Printer-Attributes <<'EOF'
  ATTR keyword requested-attributes printer-state,queued-job-count
  STATUS successful-ok
  DISPLAY printer-state
  DISPLAY queued-job-count
EOF
  [ "$(ipptool -T 30 -c "$(app_uri "$1")" "$app_dir/printer.test" | sed -n 2p)" = "idle,0" ]
}

# app_wait_idle SECONDS PRINTER...: until no job on them is pending or
# processing; fails when the time runs out.
app_wait_idle() {
  deadline=$(($(date +%s) + $1))
  shift
  while [ "$(date +%s)" -lt "$deadline" ]; do
    waiting=0
    for p in "$@"; do
      n=$(app_jobs "$p" | awk -F, '$3 == "pending" || $3 == "pending-held" || $3 == "processing" ||
                                    $3 == "processing-stopped"' | wc -l)
      waiting=$((waiting + n))
    done
    [ "$waiting" = 0 ] && return 0
    sleep 0.2
  done
  return 1
}

# doc_text_pdf PAGES OUT [JOB]: pages of 10.5 pt text, 55 lines each.  With
# JOB (0 to 511), each page also carries the marks that
# tests/printer-app/page_marks.py reads: a row of 20-pt squares across its
# foot, one at each end and between them the job number in 9 bits and the
# page number in 5 (up to 31 pages), most significant first; the text then
# stops above them.
doc_text_pdf() {
  cat > "$2.ps" <<EOF
%!PS
/words [(printer) (the) (toner) (of) (a) (page) (drum) (and) (sheet) (paper) (to) (fuser)
        (laser) (in) (tray) (is) (duplex) (raster) (on) (halftone) (job) (with) (stream)] def
/job ${3:--1} def
/cell { /k exch def  % the square k of the marks: 1 black, 0 white
  k 0 eq k 15 eq or { 1 } { k 10 lt { job k 9 sub bitshift } { p k 14 sub bitshift } ifelse 1 and } ifelse
} def
1 1 $1 { /p exch def
  /Helvetica-Bold findfont 16 scalefont setfont 60 780 moveto (Page ) show p 4 string cvs show
  /Times-Roman findfont 10.5 scalefont setfont
  0 1 job 0 lt { 54 } { 48 } ifelse { /l exch def 60 750 l 12.6 mul sub moveto
    0 1 13 { /w exch def words p 7 mul l 5 mul add w 3 mul add w l mul add words length mod get show
             ( ) show } for } for
  job 0 ge { 0 1 15 { dup cell 1 eq { 30 mul 60 add 40 20 20 rectfill } { pop } ifelse } for } if
  showpage } for
EOF
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sPAPERSIZE=a4 -sOutputFile="$2" "$2.ps"
  rm -f "$2.ps"
}

# doc_photo_pdf PAGES OUT: a photograph-like grey picture on each page, a
# smooth pattern with grain, 600 x 825 samples over most of the sheet.
doc_photo_pdf() {
  cat > "$2.ps" <<EOF
%!PS
/W 600 def /H 825 def /row W string def
/clamp { dup 0 lt { pop 0 } if dup 255 gt { pop 255 } if } def
1 1 $1 { /p exch def
  gsave 58 90 translate 480 660 scale /y 0 def
  W H 8 [W 0 0 H neg 0 H] {
    0 1 W 1 sub { /x exch def
      x p 20 mul add 0.9 mul sin y 1.3 mul cos mul 70 mul
      x x mul y y mul add sqrt 0.12 mul sin 30 mul add 128 add
      x 7919 mul y 104729 mul add p add 37 mod 18 sub add
      cvi clamp row exch x exch put } for
    /y y 1 add def row } image
  grestore showpage } for
EOF
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pdfwrite -sPAPERSIZE=a4 -sOutputFile="$2" "$2.ps"
  rm -f "$2.ps"
}

# doc_jpeg PDF OUT: the first page of PDF as a 150-dpi grey JPEG.
doc_jpeg() {
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=jpeggray -r150 -dLastPage=1 -sOutputFile="$2" "$1"
}

# doc_pwg PDF OUT: 8-bit grey PWG raster at 600 dpi, as an IPP Everywhere
# client sends it.
doc_pwg() {
  gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pwgraster -r600 -dcupsColorSpace=18 -dcupsBitsPerColor=8 \
    -sOutputFile="$2" "$1" > /dev/null 2>&1
}
