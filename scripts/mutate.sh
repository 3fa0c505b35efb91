#!/usr/bin/env bash
# Mutation check: plants small, plausible faults in the code one at a time and
# tells, for each, whether the test suite notices.
#
#   bash scripts/mutate.sh                  every fault, on this repository
#   bash scripts/mutate.sh --tree DIR       on another work tree (uncommitted files count)
#   bash scripts/mutate.sh --only ID[,ID]   only the faults named
#   bash scripts/mutate.sh --list           print the table of faults and stop
#
# The tree's files (git ls-files -co --exclude-standard) are copied into a
# scratch folder under /tmp, one per tree and kept between runs so that the
# build stays incremental. After one plain build and a passing suite, each fault
# is applied to its file, the tree rebuilt, `ctest -j2 --timeout 60` run, and
# the file restored. One line per fault:
#   caught          some test failed, hung or crashed (the count is given)
#   missed          the suite passed with the fault in place
#   build-broken    the fault does not compile: the row needs fixing
#   not-applicable  the snippet is not found exactly once: the row needs fixing
# Then one summary line. The exit status is non-zero only when the script
# itself cannot do its work (bad arguments, the unmutated tree fails).
set -euo pipefail

# The faults: id, file, snippet (must occur exactly once in the file), what
# replaces it, and what the fault does.
read -r -d '' FAULTS <<'PY' || true
FAULTS = [
  ("wh-fire-at-threshold", "src/engines/wordsheur/wordsheur.cc",
   "if (sum > threshold) {", "if (sum >= threshold) {",
   "words: a category fires at its threshold, not only above it"),
  ("wh-teen-threshold", "src/engines/wordsheur/wordsheur.cc",
   "threshold = category->teenThreshold;", "threshold = category->childThreshold;",
   "words: a teen is scored against the child threshold"),
  ("wh-min-length", "src/engines/wordsheur/wordsheur.cc",
   "static_cast<uint64_t>(n >= kMinWordLength)", "static_cast<uint64_t>(n > kMinWordLength)",
   "words: tokens of exactly the minimum length are never looked up"),
  ("wh-sum-last", "src/engines/wordsheur/wordsheur.cc",
   "sums[c] += static_cast<uint32_t>(*weight);", "sums[c] = static_cast<uint32_t>(*weight);",
   "words: a category keeps the last word's weight instead of the sum"),
  ("wh-corrupt-code", "src/engines/wordsheur/wordsheur.cc",
   "} catch (const ASException& e) {", "} catch (const std::bad_alloc& e) {",
   "words: a damaged category answers file-not-found instead of file-corrupt"),
  ("wh-observer-weight", "src/engines/wordsheur/wordsheur.cc",
   "observer->OnWord(c, key, *weight);", "observer->OnWord(c, key, 1);",
   "words: the observer is told weight 1 for every word that counted"),
  ("udb-width-code", "src/engines/urldb2/urldb2.cc",
   "? nsUrlDb2::kUrlDbWrongWidth :", "? nsUrlDb2::kUrlDbFileCorrupt :",
   "blacklist: a file of another digest width answers file-corrupt"),
  ("udb-short-file", "src/engines/urldb2/urldb2.cc",
   "if (n > *words_left / 2) n = *words_left / 2;", "if (n > *words_left) n = *words_left / 2;",
   "blacklist: a file that ends early loses the keys of its last piece"),
  ("udb-clear-urls", "src/engines/urldb2/urldb2.cc",
   "url_table_.RemoveAll();", "",
   "blacklist: clearing the engine keeps the user ids"),
  ("udb-domain-table", "src/engines/urldb2/urldb2.cc",
   "&words_left, &domain_table_);", "&words_left, &subdomain_table_);",
   "blacklist: the domain keys are loaded into the subdomain table"),
  ("udb-key-halves", "src/engines/urldb2/urldb2_format.cc",
   "Join(words[2 * i], words[2 * i + 1])", "Join(words[2 * i + 1], words[2 * i])",
   "blacklist: keys read in pieces have their halves swapped"),
  ("udb-digest-bytes", "src/engines/urldb2/urldb2_format.cc",
   "for (int i = 7; i >= 0; --i)", "for (int i = 7; i > 0; --i)",
   "blacklist: a key takes 7 digest bytes instead of 8"),
  ("mk-fire-above", "src/engines/markovian/markovian.cc",
   "score >= needed && plan.threshold > 0", "score > needed && plan.threshold > 0",
   "markovian: a class reaching its threshold exactly does not fire"),
  ("mk-two-letter-words", "src/engines/markovian/markovian.cc",
   "if (p - start >= 2) out->push_back(hash);", "if (p - start > 2) out->push_back(hash);",
   "markovian: two-letter words are dropped from the text"),
  ("mk-max-repeats", "src/engines/markovian/markovian.cc",
   "counted->second > params_.maxRepeats", "counted->second >= params_.maxRepeats",
   "markovian: a text counts one time fewer than the repeat limit allows"),
  ("mk-cover-one-word", "src/engines/markovian/markovian.cc",
   "memset(flags_.data() + p, 1, static_cast<size_t>(k));", "memset(flags_.data() + p, 1, 1);",
   "markovian: a match covers only its first word, so shorter windows count again"),
  ("mk-run-last-entry", "src/engines/markovian/markovian.cc",
   "for (uint32_t e = 1; e < run.count; ++e, hashes += width)",
   "for (uint32_t e = 1; e + 1 < run.count; ++e, hashes += width)",
   "markovian: the last entry of a run of equal first words is never matched"),
  ("mk-reload-threshold", "src/engines/markovian/markovian.cc",
   "thresholds_.insert_or_assign(name, threshold);", "thresholds_.emplace(name, threshold);",
   "markovian: a reloaded class keeps its old threshold"),
  ("mk-probe-once", "src/engines/markovian/start_index.cc",
   "while (slots[at].tables != 0) at = (at + 1) & mask;",
   "if (slots[at].tables != 0) at = (at + 1) & mask;",
   "markovian: the start index probes one slot further at most, colliding words overwrite"),
  ("flt-words-no-clear", "tervo/imwordsfilter.cc",
   "data->engine.ClearCategories();", "",
   "words filter: a reload keeps the old categories beside the new ones"),
  ("flt-words-enabled", "tervo/imwordsfilter.cc",
   "return ReadEnabled(this, session, 0);", "return ReadEnabled(this, session, 1);",
   "words filter: enabled when the setting is missing"),
  ("flt-teen-factor", "common/item.h",
   "age == kAgeTeen ? 0.8f : 0.0f;", "age == kAgeTeen ? 1.0f : 0.0f;",
   "filters: a teen gets the child's threshold factor"),
  ("flt-empty-file-code", "tervo/filter_common.cc",
   "as_set_err(-201, \"%s Problems loading the file\"", "as_set_err(-204, \"%s Problems loading the file\"",
   "filters: an empty data file answers -204 instead of -201"),
  ("flt-command-check", "tervo/filter_common.cc",
   "if (command != 0) AS_RAISE", "if (command > 1) AS_RAISE",
   "filters: command 1 is processed as a message"),
  ("flt-bl-session-flag", "tervo/imblacklistfilter.cc",
   "if (!session_open && !IsSessionFlagSet(session)) return;", "(void)session_open;",
   "blacklist filter: items of sessions without the flag are processed"),
  ("flt-bl-user-length", "tervo/imblacklistfilter.cc",
   "strlen(user->c_str()))", "strlen(user->c_str()) - 1)",
   "blacklist filter: the user id is looked up without its last byte"),
  ("flt-shrunk-file", "tervo/filter_common.h",
   "return !taken_ || size != size_;", "return !taken_ || size > size_;",
   "filters: a data file that got smaller is not read again"),
  ("flt-mk-age-factor", "tervo/immarkovianfilter.cc",
   "params.factor = data->ageFactor;", "params.factor = 1.0f;",
   "markovian filter: the age factor is not applied"),
  ("flt-mk-value-key", "tervo/immarkovianfilter.cc",
   "item->io->SetInt32(ascommon::IM_MARKOVIAN_VALUE_KEY, 0) != 0", "false",
   "markovian filter: the value key (41016) is not written"),
  ("flt-sign-code", "tervo/imsignfilter.cc",
   "return as_set_err(-201, SIGN_PREFIX \" no data file im_sign, not creating\");",
   "return as_set_err(-204, SIGN_PREFIX \" no data file im_sign, not creating\");",
   "signature filter: a missing rules file answers -204 instead of -201"),
  ("arr-add-fills-last", "src/common/array.h",
   "if (count_ + 1 < capacity_) {", "if (count_ < capacity_) {",
   "array: Add fills the last free slot instead of growing"),
  ("arr-map-duplicate", "src/common/array.h",
   "if (n->key == key) return kMapDuplicateKey;", "if (n->key == key) break;",
   "map: a present key is inserted again, ahead of the first"),
  ("bb-get-default", "common/blackbox.cc",
   "*dest = def;", "(void)def;",
   "black box: a missing scalar leaves the destination instead of the default"),
  ("bb-text-mode", "common/blackbox.cc",
   "mode == 0 ? text : object", "mode == 0 ? object : text",
   "black box: text modes 0 and 1 swapped"),
  ("bb-copy-count", "common/blackbox.cc",
   "*count = n;", "*count = array.GetCount();",
   "black box: an array copy reports the full count, not what it copied"),
  ("ss-hash-unsigned", "common/sstring.cc",
   "static_cast<int32_t>(static_cast<signed char>(data_[i]))",
   "static_cast<int32_t>(static_cast<unsigned char>(data_[i]))",
   "sstring: hash mixes bytes from 0x80 up unsigned"),
  ("ss-find-nocase-end", "common/sstring.cc",
   "for (uint64_t i = 0; i + m <= length_; ++i)", "for (uint64_t i = 0; i + m < length_; ++i)",
   "sstring: find_nocase misses a match at the very end"),
  ("ss-prefix-order", "common/sstring.cc",
   "return la == lb ? 0 : la < lb ? -1 : 1;", "return la == lb ? 0 : la < lb ? 1 : -1;",
   "sstring: a proper prefix compares greater"),
  ("bs-string-at-end", "common/binstreamer.cc",
   "static_cast<uint64_t>(pos) + length > end", "static_cast<uint64_t>(pos) + length >= end",
   "streamer: a string that ends the file is refused"),
  ("bs-digest-last-byte", "common/binstreamer.cc",
   "for (uint32_t i = 0; i < kDigestSize; ++i)", "for (uint32_t i = 0; i + 1 < kDigestSize; ++i)",
   "streamer: the digest's last byte is not checked"),
  ("bs-short-read", "common/binstreamer.cc",
   "fread_unlocked(buffer, size, 1, stream_) != 1", "fread_unlocked(buffer, 1, size, stream_) == 0",
   "streamer: a short read is accepted"),
  ("bs-scramble-first", "common/binstreamer.cc",
   "for (uint64_t i = 0; i < size; ++i) data[i] ^=", "for (uint64_t i = 1; i < size; ++i) data[i] ^=",
   "streamer: the first byte of a file is not scrambled"),
  ("lock-no-read-unlock", "src/common/shared_locker.cc",
   "locker_->UnlockReadOnly();", "",
   "locker: auto_locker leaves its read lock held"),
  ("lock-wake-writer", "src/common/shared_locker.cc",
   "reader_count_.fetch_sub(1) == 1", "reader_count_.fetch_sub(1) == 0",
   "locker: the last reader out does not wake a waiting writer"),
  ("lock-writer-recheck", "src/common/shared_locker.cc",
   "while (reader_count_.load() != 0) {", "if (reader_count_.load() != 0) {",
   "locker: a writer trusts one wake-up and may enter beside readers"),
  ("frame-not-initialized", "src/notifobj/notifobj.cc",
   "initialized = true;", "",
   "frame: preparing the shared data does not mark the module initialised"),
  ("frame-session-kept", "src/notifobj/notifobj.cc",
   "sessions.Remove(session);", "",
   "frame: a released session stays in the map with freed data"),
  ("frame-display-name", "src/amodule/amodule.cc",
   "name.is_null() ? fallbackName.c_str() : name.c_str()",
   "name.is_null() ? name.c_str() : fallbackName.c_str()",
   "frame: the display name takes the fallback when a name is set"),
  ("frame-factory-order", "tervo/tervo.cc",
   "Register<CImSignFilter>(g_strSignFilterName);", "Register<CImMarkovianFilter>(g_strSignFilterName);",
   "plug-in: the signature filter's name makes a Markovian filter"),
  ("rx-invalid-utf", "platform/fernwick/fernwick.cc",
   "PCRE2_UTF | PCRE2_MATCH_INVALID_UTF | PCRE2_NEVER_BACKSLASH_C", "PCRE2_UTF | PCRE2_NEVER_BACKSLASH_C",
   "regex: a subject with invalid UTF-8 matches nothing"),
  ("rx-limit-count", "platform/fernwick/fernwick.cc",
   "limit_hits_.fetch_add(1,", "limit_hits_.fetch_add(0,",
   "regex: searches cut off by a limit are not counted"),
  ("rx-start-at-end", "platform/fernwick/fernwick.cc",
   "|| start > length) {", "|| start >= length) {",
   "regex: a search starting at the end of the subject is refused"),
  ("fw-path-backslash", "src/engines/fernwick/fernwicklib.cc",
   "if (path.back() != '\\\\') path += '\\\\';", "path += '\\\\';",
   "regex bridge: a folder ending in a backslash gets a second one"),
  ("fw-entry-slot", "src/engines/fernwick/fernwicklib.cc",
   "reinterpret_cast<void**>(&found.NewFastRegEx)", "reinterpret_cast<void**>(&found.NewRegEx)",
   "regex bridge: NewFastRegEx is stored in the NewRegEx slot"),
  ("tok-escaped-r", "src/engines/phrasematch/tokenizer.cc",
   "(c == 'n' || c == 't' || c == 'r')", "(c == 'n' || c == 't')",
   "tokenizer: a written-out backslash-r does not separate words"),
  ("tok-unsigned-bytes", "src/engines/phrasematch/tokenizer.cc",
   "static_cast<int32_t>(static_cast<signed char>(c))", "static_cast<int32_t>(static_cast<unsigned char>(c))",
   "tokenizer: bytes of 128 and above enter the hash as positive values"),
  ("tok-no-shrink", "src/engines/phrasematch/tokenizer.cc",
   "if (count_ != capacity_ && !Resize(count_))", "if (false && !Resize(count_))",
   "tokenizer: the list keeps its spare room"),
  ("wf-capital-pair", "src/engines/levenshtein/word_finder.cc",
   "static_cast<unsigned char>(a - 32)", "static_cast<unsigned char>(a)",
   "word finder: a ; entry does not set the capital's pair"),
  ("wf-comment-anywhere", "src/engines/levenshtein/word_finder.cc",
   'strstr(line, "##") != nullptr', 'strncmp(line, "##", 2) == 0',
   "word finder: only lines that begin with ## are comments"),
  ("wf-cost-rounds", "src/engines/levenshtein/word_finder.cc",
   "return static_cast<uint32_t>(thousandths);", "return static_cast<uint32_t>(thousandths + 0.5f);",
   "word finder: costs are rounded instead of truncated"),
  ("asl-knn-default", "src/engines/assl/parser/grammar.y",
   "AttributeValue::Number(nsAssl::kAttrKnnNumber, 100)", "AttributeValue::Number(nsAssl::kAttrKnnNumber, 0)",
   "rules: is_knn_categ without a number records 0 instead of 100"),
  ("asl-all-or-code", "src/engines/assl/parser/grammar.y",
   "state->NewOperator(nsAssl::kOpAllOr, $1, $3)", "state->NewOperator(nsAssl::kOpOr, $1, $3)",
   "rules: ||| is recorded as ||"),
  ("asl-literal-span", "src/engines/assl/parser/lexer.l",
   "yylval->text.length = yyleng - 2;", "yylval->text.length = yyleng - 1;",
   "rules: a literal keeps its closing quote"),
  ("asl-comment-lines", "src/engines/assl/parser/lexer.l",
   "<IN_COMMENT>\\n             { yyextra->NewLine(); }", "<IN_COMMENT>\\n             { }",
   "rules: line feeds inside comments are not counted"),
  ("asl-first-name-wins", "src/engines/assl/rule_table.cc",
   "return names_.emplace(name, index).second;", "return names_.insert_or_assign(name, index).second;",
   "rules: a second rule of one name takes the name over"),
  ("asl-max-actions", "src/engines/assl/rules/rule.cc",
   "rule->actions_.GetCount() == CRule::kMaxActions", "rule->actions_.GetCount() > CRule::kMaxActions",
   "rules: a rule keeps a fourth action"),
  ("asl-subject-place", "src/engines/assl/rules/rule.cc",
   "phrase && where->number == kHeadersNamed ? kHeadersSubject : where->number", "where->number",
   "rules: phrase matching on SUBJECT keeps the named-header place"),
  ("asl-priority-flag", "src/engines/assl/rules/rule.cc",
   "case kMetaPriority: rule->signature_ = 1;", "case kMetaPriority: rule->apm_ = 1;",
   "rules: a priority makes an APM rule instead of a signature"),
  ("asl-print-right-operand", "src/engines/assl/parser/rule_printer.cc",
   "bare_at(node->right, level + 1)", "bare_at(node->right, level)",
   "rules: a right operand of the same level prints without parentheses"),
  ("lint-cycle", "host/cli/rule_lint.cc",
   "if (state[name] == 1) {", "if (state[name] == 2) {",
   "lint: cycles between rules go unreported"),
  ("exec-or-short", "src/engines/assl/rules/conditions.cc",
   "return left != 0.0f ? left : side(node->right);",
   "const float right = side(node->right); return left != 0.0f ? left : right;",
   "rules: || runs its right side even when the left one fired"),
  ("exec-score-at", "src/engines/assl/rules/conditions.cc",
   "return score >= value ? 1.0f : 0.0f;", "return score > value ? 1.0f : 0.0f;",
   "rules: score_greater_than is false at its constant"),
  ("exec-done-flag", "src/engines/assl/rules/rule.cc",
   "if (record->action_done[i]) continue;", "if (false) continue;",
   "rules: a second run on one item repeats the actions that succeeded"),
  ("exec-second-text", "src/engines/assl/rules/items.h",
   "bool reads_second_text() const { return how == kRegexInsensitive || how == kExactInsensitive; }",
   "bool reads_second_text() const { return how == kExactInsensitive; }",
   "rules: insensitive matches read the text instead of its lower-cased form"),
  ("fw-jit-shorthand", "platform/fernwick/fernwick.cc",
   "if (s[i] >= 0x80) return true;", "if (s[i] >= 0xF0) return true;",
   "regex: the JIT searches a subject with a two-byte character for \\W and misses it"),
  ("fw-jit-shorthand-wide", "platform/fernwick/fernwick.cc",
   "if ((word & 0x8080808080808080ull) != 0) return true;",
   "if ((word & 0x8080808080808080ull) == 0) return true;",
   "regex: the JIT searches a long subject for \\W and misses a character past ASCII in its first eight bytes"),
  ("pf-final-newline", "platform/fernwick/fernwick_set.cc",
   "if (length > 0 && s[length - 1] == '\\n') return false;", "if (false) return false;",
   "prefilter: a text ending in a line feed is decided by the set, whose $ differs"),
  ("pf-look-nested", "platform/fernwick/fernwick_set.cc",
   "--depth;", "depth = 0;",
   "prefilter: a group inside a lookaround ends the lookaround"),
  ("pf-look-named", "platform/fernwick/fernwick_set.cc",
   "(p[i + 2] == '<' && i + 3 < n && (p[i + 3] == '=' || p[i + 3] == '!'))", "p[i + 2] == '<'",
   "prefilter: a named group is left out as if it were a lookbehind"),
  ("pf-vt-ascii", "platform/fernwick/fernwick_set.cc",
   "if (((word & 0x8080808080808080ull) | has_vt) == 0) {", "if (((word & 0x8080808080808080ull) | (has_vt & 0)) == 0) {",
   "prefilter: a vertical tab among eight ASCII bytes is not seen, and \\s differs"),
  ("pf-undecided", "src/engines/assl/rules/prefilter.h",
   "return scan.state == PrefilterScan::kUndecided || (scan.bits", "return (scan.state == PrefilterScan::kScanned && scan.bits",
   "prefilter: a declined scan rules every pattern out instead of running them all"),
  ("pf-joint-deal", "src/engines/assl/rules/prefilter.cc",
   "scans[(id & kSecondSet) != 0]", "scans[(id & kSecondSet) == 0]",
   "prefilter: the joint scan gives each pattern's bit to the other text's scan"),
  ("pf-joint-lowered", "src/engines/assl/rules/prefilter.cc",
   "!IsAsciiLowered(im->GetText(), im->GetSecondText(), length)", "!IsAsciiLowered(im->GetText(), im->GetText(), length)",
   "prefilter: the joint scan stands for a second text that is not the text lowered"),
  ("pf-joint-range", "src/engines/assl/rules/prefilter.cc",
   "if (!(islower(from) && islower(to)) && !(isdigit(from) && isdigit(to))) return false;", "(void)from, (void)to;",
   "prefilter: a negated class with a range over upper-case letters is scanned caseless"),
  ("pf-caseless-ascii", "platform/fernwick/fernwick_set.cc",
   "ascii_only_ = ascii_only_ || caseless;", "ascii_only_ = ascii_only_ && caseless;",
   "prefilter: a set holding a caseless pattern decides subjects past ASCII"),
  ("pf-given-result", "src/engines/assl/rules/rule.cc",
   "context->StateUntouched(index_) && ", "",
   "rules: a ruled-out match answers 0.0 over a result given to it"),
  ("plan-not", "src/engines/assl/signature_plan.cc",
   "if (node->op == kOpNot) return left == 0 ? 1 : 0;", "if (node->op == kOpNot) return left == 0 ? 0 : 1;",
   "plan: `not` over rules the scan ruled out is taken as 0, and its signature skipped"),
  ("exec-phrase-split", "src/engines/assl/rules/conditions.cc",
   "text = bar + 1;", "text = bar + 2;",
   "rules: a phrase loses its first character after a bar"),
  ("heur-type-default", "src/engines/codeheur/codeheur.cc",
   "return type == nullptr ? FT_NONE : *type;", "return type == nullptr ? FT_INT : *type;",
   "code heuristics: an unknown name has the type of an integer feature"),
  ("heur-exec-action", "src/engines/assl/rules/actions.cc",
   "engines->code_heur->RunHeuristic(heuristic, engines, context, nullptr);",
   "static_cast<void>(context);",
   "code heuristics: the exec action never runs the heuristic it names"),
  ("engine-priority-tie", "src/engines/assl/signature_index.cc",
   "a->priority > b->priority : a->index > b->index;", "a->priority > b->priority : a->index < b->index;",
   "engine: equal priorities run the earlier rule first"),
  ("engine-free-ratio", "src/engines/assl/init_incremental.cc",
   "static_cast<double>(slots) > 0.4)", "static_cast<double>(slots) > 0.5)",
   "engine: an update is applied with 42 % of the slots free"),
  ("engine-reuse-slot", "src/engines/assl/init_incremental.cc",
   "&slot) && free_.GetCount() != 0) {", "&slot) && false) {",
   "engine: a new rule is appended instead of taking a freed slot"),
  ("sign-age-teen", "tervo/imsignfilter.cc",
   ": *age == kAgeTeen  ? \"teen\"", ": *age == kAgeTeen  ? \"child\"",
   "signature filter: a child category marks teen sessions instead of a teen one"),
  ("ctx-reset-vars", "src/engines/assl/acontextif.cc",
   "string_variables_.Reset();", "static_cast<void>(0);",
   "context: a reused context keeps the last item's string variables"),
  ("incslf-last-jid", "src/engines/assl/incslf_file.cc",
   "if (job.jid > last) last = job.jid;", "last = job.jid;",
   "incslf: the last JID is the last job's, not the largest"),
  ("incslf-after-jid", "src/engines/assl/incslf_file.cc",
   "if (job.jid <= after_jid) continue;", "if (job.jid < after_jid) continue;",
   "incslf: the jobs' data after a JID takes in the job of that JID"),
]
PY

# The helper: the table, and copying, applying and restoring files.
read -r -d '' HELPER <<'PY' || true
import os, subprocess, sys
cmd, args = sys.argv[1], sys.argv[2:]
rows = {f[0]: f for f in FAULTS}

def read(p):
    with open(p, "rb") as f:
        return f.read()

def write(p, data):
    os.makedirs(os.path.dirname(p), exist_ok=True)
    with open(p, "wb") as f:
        f.write(data)

if cmd == "list":
    for fid, path, old, new, desc in FAULTS:
        print(f"{fid}  {path}\n    {desc}\n    - {old}\n    + {new}")
elif cmd == "ids":  # the ids to run: all, or those of a comma list
    wanted = [i for i in args[0].split(",") if i] if args and args[0] else list(rows)
    unknown = [i for i in wanted if i not in rows]
    if unknown:
        sys.exit("mutate: unknown fault id: " + ", ".join(unknown))
    print("\n".join(wanted))
elif cmd == "describe":
    print(rows[args[0]][4])
elif cmd == "sync":  # tree, copy: rewrite only what differs, so mtimes stay
    tree, dest = args
    out = subprocess.run(["git", "-C", tree, "ls-files", "-z", "-co", "--exclude-standard"],
                         check=True, capture_output=True).stdout.decode()
    files = {f for f in out.split("\0") if f and os.path.isfile(os.path.join(tree, f))}
    for f in files:
        data, d = read(os.path.join(tree, f)), os.path.join(dest, f)
        if not os.path.exists(d) or read(d) != data:
            write(d, data)
            os.chmod(d, os.stat(os.path.join(tree, f)).st_mode & 0o7777)
    for root, _, names in os.walk(dest):
        for n in names:
            p = os.path.join(root, n)
            if os.path.relpath(p, dest) not in files:
                os.remove(p)
elif cmd == "apply":  # copy, id: exit 3 when the snippet is not there once
    dest, fid = args
    _, path, old, new, _ = rows[fid]
    p = os.path.join(dest, path)
    text = read(p).decode() if os.path.exists(p) else ""
    if text.count(old) != 1:
        print(f"found {text.count(old)} times in {path}")
        sys.exit(3)
    write(p + ".mutate-orig", text.encode())
    write(p, text.replace(old, new).encode())
elif cmd == "restore":  # copy, id: put the file back (with a new mtime)
    dest, fid = args
    p = os.path.join(dest, rows[fid][1])
    if os.path.exists(p + ".mutate-orig"):
        write(p, read(p + ".mutate-orig"))
        os.remove(p + ".mutate-orig")
PY
helper() { python3 -c "$FAULTS"$'\n'"$HELPER" "$@"; }

tree="$(cd "$(dirname "$0")/.." && pwd -P)"
only=""
while [ $# -gt 0 ]; do
  case "$1" in
    --tree) tree="$(cd "${2:?--tree needs a folder}" && pwd -P)"; shift 2 ;;
    --only) only="${2:?--only needs ids}"; shift 2 ;;
    --list) helper list; exit 0 ;;
    *) echo "usage: bash scripts/mutate.sh [--tree DIR] [--only ID[,ID...]] [--list]" >&2; exit 2 ;;
  esac
done
git -C "$tree" rev-parse --git-dir >/dev/null 2>&1 || { echo "mutate: $tree is not a git work tree" >&2; exit 2; }
ids=$(helper ids "$only")

scratch="/tmp/tervo-mutate-$(printf %s "$tree" | md5sum | cut -c1-10)"
copy="$scratch/src" build="$scratch/build" logs="$scratch/logs"
mkdir -p "$copy" "$logs"
exec 9>"$scratch/lock"
flock -n 9 || { echo "mutate: another run is using $scratch" >&2; exit 2; }

current=""
trap '[ -n "$current" ] && helper restore "$copy" "$current"' EXIT

echo "mutate: $tree -> $scratch (logs in $logs)"
start=$SECONDS
helper sync "$tree" "$copy"
cmake -S "$copy" -B "$build" -G Ninja -DTERVO_BUILD_BENCH=OFF >"$logs/cmake.log" 2>&1 \
  || { echo "mutate: cmake failed on the unmutated tree, see $logs/cmake.log" >&2; exit 1; }

# Builds and runs the suite, logging to $logs/$1.*; answers
#   0 passed, 1 tests failed (count in $failed), 2 build failed.
failed=0
build_and_test() {
  timeout 1500 cmake --build "$build" -j2 >"$logs/$1.build.log" 2>&1 || return 2
  local rc=0
  timeout 600 ctest --test-dir "$build" -j2 --timeout 60 >"$logs/$1.test.log" 2>&1 || rc=$?
  [ "$rc" -eq 0 ] && return 0
  failed=$(sed -n 's/.* \([0-9][0-9]*\) tests failed out of.*/\1/p' "$logs/$1.test.log" | tail -1)
  [ "$rc" -eq 124 ] && failed="suite timed out"
  failed="${failed:-crashed}"
  return 1
}

rc=0; build_and_test baseline || rc=$?
case $rc in
  2) echo "mutate: the unmutated tree does not build, see $logs/baseline.build.log" >&2; exit 1 ;;
  1) echo "mutate: the unmutated suite fails ($failed), see $logs/baseline.test.log" >&2; exit 1 ;;
esac
echo "mutate: unmutated build and suite pass ($((SECONDS - start)) s)"

caught=0 missed=0 broken=0 na=0
for id in $ids; do
  desc=$(helper describe "$id")
  t0=$SECONDS
  if ! why=$(helper apply "$copy" "$id"); then
    [ -n "$why" ] || { echo "mutate: could not apply $id" >&2; exit 1; }
    echo "not-applicable  $id: $desc ($why)"; na=$((na + 1)); continue
  fi
  current=$id
  rc=0; build_and_test "$id" || rc=$?
  helper restore "$copy" "$id"; current=""
  case $rc in
    0) echo "missed          $id: $desc"; missed=$((missed + 1)) ;;
    1) echo "caught          $id: $desc ($failed failing, $((SECONDS - t0)) s)"; caught=$((caught + 1)) ;;
    2) echo "build-broken    $id: $desc (see $logs/$id.build.log)"; broken=$((broken + 1)) ;;
  esac
done
echo "mutate: $caught caught, $missed missed, $broken build-broken, $na not-applicable ($((SECONDS - start)) s)"
