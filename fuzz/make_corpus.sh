#!/usr/bin/env bash
# Makes the seed corpus of the fuzz targets in fuzz/corpus/<target>/ from the
# sample data (data/sample) and a few small sources written here, compiled
# with a built `tervo compile`:
#   bash fuzz/make_corpus.sh [BUILD_DIR]     (default build-fuzz)
# The loaders' seeds are payloads (the bytes after the container's header);
# the streamer's are whole files, as they lie on disk, behind its two control
# bytes. Existing seeds of the same names are replaced; others are kept.
set -euo pipefail
cd "$(dirname "$0")/.."

build="${1:-build-fuzz}"
tervo="$build/bin/tervo"
if [ ! -x "$tervo" ]; then
  echo "make_corpus: $tervo is not built (cmake --build $build --target tervo_cli)" >&2
  exit 1
fi

corpus=fuzz/corpus
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
export ASAN_OPTIONS=detect_leaks=0
for target in streamer imwords imblacklist markovian text filters; do
  mkdir -p "$corpus/fuzz_$target"
done

# payload FILE: the payload of a data file, unscrambled, without its header.
payload() {
  perl -0777 -ne 'print substr($_ ^ (chr(0xA7) x length($_)), 128)' "$1"
}

# compile KIND SOURCE NAME: compiles SOURCE into $scratch/NAME.dat.
compile() {
  local out
  out="$("$tervo" compile "$1" "$2" -o "$scratch/$3.dat" 2>&1)" || { echo "$out" >&2; exit 1; }
}

cat >"$scratch/words-edge.txt" <<'EOF'
category negative -5 -3 -1 7
bad -2
worse 2147483647
category tiny 0 0 0 0
abc 1
EOF
cat >"$scratch/markovian-edge.txt" <<'EOF'
class again 1
1 hello
2 hello there
class again 2
3 one two three
class zero 0
-1 anything at all
class long 3
2 aa bb cc dd ee ff gg hh
EOF
cat >"$scratch/blacklist-edge.txt" <<'EOF'
[domains]
example.org
example.org
[urls]
someone@example.org
EOF

compile words data/sample/imwords.txt words-sample
compile words "$scratch/words-edge.txt" words-edge
compile markovian data/sample/im_markovian.txt markovian-sample
compile markovian "$scratch/markovian-edge.txt" markovian-edge
compile blacklist data/sample/imblacklist.txt blacklist-sample
compile blacklist "$scratch/blacklist-edge.txt" blacklist-edge

for kind in words markovian blacklist; do
  target=fuzz_im$kind
  [ "$kind" = markovian ] && target=fuzz_markovian
  for variant in sample edge; do
    payload "$scratch/$kind-$variant.dat" >"$corpus/$target/$variant"
  done
done

# The streamer: flags, operation count, operations, then the file. Every kind
# of read in turn; reads in the words file's order (count, then per category
# a string and five numbers); a sealed file cut inside its payload.
streamer="$corpus/fuzz_streamer"
{ printf '\0\0'; cat "$scratch/words-sample.dat"; } >"$streamer/words-every-read"
{ printf '\0\11\3\13\4\4\4\4\4\13\4'; cat "$scratch/words-sample.dat"; } >"$streamer/words-in-order"
{ printf '\0\0'; cat "$scratch/markovian-sample.dat"; } >"$streamer/markovian-every-read"
{ printf '\0\2\3\370'; cat "$scratch/blacklist-sample.dat"; } >"$streamer/blacklist-arrays"
{ printf '\1\0'; head -c 200 "$scratch/words-sample.dat"; } >"$streamer/sealed-cut"

# Texts: the first byte is the small room of the lower-casing checks.
printf '\20Hello WORLD, are you OK?' >"$corpus/fuzz_text/ascii"
printf '\10\303\200\303\211\303\216 \304\260 \304\250 \304\256 I J' \
  >"$corpus/fuzz_text/group-letters"
printf '\7[A-Z\303\211]\\I\\\303\211(x|Y)' >"$corpus/fuzz_text/regex"
printf '\40\316\221\316\222\316\223 \320\220\320\221\320\222 \360\220\220\200\360\220\220\201' \
  >"$corpus/fuzz_text/greek-cyrillic-deseret"
printf '\3ab\200cd\300\301\370\377\355\240\200\364\220\200\200\342\202' \
  >"$corpus/fuzz_text/ill-formed"

# Rules: the sample rule files as they are.
mkdir -p "$corpus/fuzz_rules"
cp data/sample/im_sign.slf data/sample/im_meta.slf "$corpus/fuzz_rules/"

# Messages: text, a zero byte, the other party.
n=0
while IFS= read -r line; do
  n=$((n + 1))
  printf '%s' "$line" >"$corpus/fuzz_filters/chat-$n"
done < <(head -n 8 data/sample/chat.txt)
printf 'you are special, I am older and I understand you\0stranger_danger88' \
  >"$corpus/fuzz_filters/listed-user"
printf 'click here for free gift cards!!\0FreeGiftCards4U' >"$corpus/fuzz_filters/listed-user-2"

# The prefilter's messages: the sample chat, then texts its sets decline
# (a vertical tab, a final line feed, invalid UTF-8) and a second text.
mkdir -p "$corpus/fuzz_prefilter"
n=0
while IFS= read -r line; do
  n=$((n + 1))
  printf '%s' "$line" >"$corpus/fuzz_prefilter/chat-$n"
done <data/sample/chat.txt
printf 'keep it our secret\v ok' >"$corpus/fuzz_prefilter/vtab"
printf 'meet me after school\n' >"$corpus/fuzz_prefilter/final-lf"
printf 'send \xff\xfe a pic' >"$corpus/fuzz_prefilter/invalid-utf8"
printf 'Meet Me\0meet me' >"$corpus/fuzz_prefilter/second-text"

du -sh "$corpus"
