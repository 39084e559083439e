#!/usr/bin/env bash
# Builds update bundles (POSIX ustar archives with an "index" member) with GNU tar,
# for tests and the demo.
#
#   make-bundle.sh bundle OUT.tar DIR
#       archives DIR's files (no subfolders): "index" first, then the others by name
#   make-bundle.sh container OUT RUNNER PAYLOAD [VERSION [WORD]]
#       writes a container member: RUNNER's bytes, PAYLOAD's bytes and the 16-byte
#       trailer (WORD, payload offset and length little-endian, VERSION big-endian;
#       VERSION defaults to 0x02040505, WORD to 0x4b554221)
#   make-bundle.sh demo OUT.tar
#       a demonstration bundle: plain packages for armv7 speakers and aarch64 paging
#       microphones, and one container, all with generated contents
set -euo pipefail

die() {
  echo "make-bundle: $*" >&2
  exit 1
}

le32() {
  local v=$(($1))
  printf '\\%03o' $((v & 255)) $(((v >> 8) & 255)) $(((v >> 16) & 255)) $(((v >> 24) & 255))
}

be32() {
  local v=$(($1))
  printf '\\%03o' $(((v >> 24) & 255)) $(((v >> 16) & 255)) $(((v >> 8) & 255)) $((v & 255))
}

make_bundle() {
  local out=$1 dir=$2
  [ -f "$dir/index" ] || die "$dir has no index file"
  local members=(index)
  local f name
  for f in "$dir"/*; do
    name=$(basename "$f")
    [ "$name" = index ] && continue
    [ -f "$f" ] || die "$f is not a plain file"
    members+=("$name")
  done
  for name in "${members[@]}"; do
    # Longer names would go to the ustar prefix field, which bundles do not use.
    [ ${#name} -le 99 ] || die "member name longer than 99 bytes: $name"
  done
  tar --format=ustar --owner=0 --group=0 --numeric-owner --mtime=@0 -cf "$out" -C "$dir" "${members[@]}"
}

make_container() {
  local out=$1 runner=$2 payload=$3 version=${4:-0x02040505} word=${5:-0x4b554221}
  local offset length
  offset=$(stat -c %s "$runner")
  length=$(stat -c %s "$payload")
  {
    cat "$runner" "$payload"
    printf "$(le32 "$word")$(le32 "$offset")$(le32 "$length")$(be32 "$version")"
  } >"$out"
}

make_demo() {
  local out=$1 dir
  dir=$(mktemp -d)
  trap 'rm -rf "$dir"' RETURN
  head -c 300000 /dev/urandom >"$dir/app-main.bin"
  head -c 150000 /dev/urandom >"$dir/app-web.bin"
  head -c 90000 /dev/urandom >"$dir/mic-main.bin"
  head -c 4000 /dev/urandom >"$dir/runner.part"
  head -c 500000 /dev/urandom >"$dir/payload.part"
  make_container "$dir/kub-container-firmware" "$dir/runner.part" "$dir/payload.part"
  rm "$dir/runner.part" "$dir/payload.part"
  cat >"$dir/index" <<'INDEX'
1,armv7,speaker,app-main,1.2.0,app-main.bin,Main application
2,armv7,speaker,app-web,1.0.3,app-web.bin,Web console
3,armv7,speaker,firmware,2.4.5,kub-container-firmware,Firmware container
4,aarch64,paging,mic-main,3.1.0,mic-main.bin,Paging microphone application
INDEX
  make_bundle "$out" "$dir"
}

[ $# -ge 1 ] || die "usage: make-bundle.sh bundle|container|demo ..."
what=$1
shift
case "$what" in
bundle)
  [ $# -eq 2 ] || die "usage: make-bundle.sh bundle OUT.tar DIR"
  make_bundle "$@"
  ;;
container)
  [ $# -ge 3 ] && [ $# -le 5 ] || die "usage: make-bundle.sh container OUT RUNNER PAYLOAD [VERSION [WORD]]"
  make_container "$@"
  ;;
demo)
  [ $# -eq 1 ] || die "usage: make-bundle.sh demo OUT.tar"
  make_demo "$@"
  ;;
*) die "unknown command: $what" ;;
esac
