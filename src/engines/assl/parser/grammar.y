/* The grammar of the rule language. Productions record items into the
   parser state; `error` alternatives are the recovery points, each with its
   message. */
%code requires {
#include <stdint.h>

#include "src/engines/assl/parser/item_codes.h"
#include "src/engines/assl/parser/parser_state.h"

typedef void* yyscan_t;

// The value of a token or of a small production.
struct AsslText {
  const char* data;
  int length;
};
// An argument that is a number, a name or a literal (kind is the attribute
// code the grammar records for it), or a place with its header name.
struct AsslArg {
  int32_t code;
  int32_t number;
  const char* data;
  int length;
};
}

%code {
#include "src/exceptions/asexception.h"

int yylex(YYSTYPE* value, yyscan_t scanner);
static void yyerror(nsAssl::ParserState* state, yyscan_t, const char* message) {
  state->SyntaxError(message);
}

using nsAssl::AttributeValue;

// A match item: the text, the place (with a named header's name), how, and
// the part mode when one is given (0 when not).
static void RecordMatch(nsAssl::ParserState* state, const AsslText& what, const AsslArg& where,
                        int32_t how, int32_t mode) {
  AttributeValue values[5];
  size_t n = 0;
  values[n++] = AttributeValue::Text(nsAssl::kAttrMatchWhat, what.data, what.length);
  values[n++] = AttributeValue::Number(nsAssl::kAttrMatchWhere, where.number);
  if (where.data != nullptr) values[n++] = AttributeValue::Text(where.code, where.data, where.length);
  values[n++] = AttributeValue::Number(nsAssl::kAttrMatchHow, how);
  if (mode != 0) values[n++] = AttributeValue::Number(nsAssl::kAttrMatchPartMode, mode);
  state->AddItem(nsAssl::kGroupCondition, nsAssl::kCondMatch, values, n);
}

// An exists or is_empty item: the place under `attribute`, then the name
// that goes with it, if any.
static void RecordPlace(nsAssl::ParserState* state, int32_t code, int32_t attribute,
                        const AsslArg& place) {
  AttributeValue values[2] = {AttributeValue::Number(attribute, place.number),
                              AttributeValue::Text(place.code, place.data, place.length)};
  state->AddItem(nsAssl::kGroupCondition, code, values, place.data != nullptr ? 2 : 1);
}

// An argument recorded under its own code: a number or a text.
static AttributeValue ArgValue(const AsslArg& arg, bool is_text) {
  return is_text ? AttributeValue::Text(arg.code, arg.data, arg.length)
                 : AttributeValue::Number(arg.code, arg.number);
}
}

%define api.pure full
%define api.token.prefix {TK_}
%define parse.error verbose
%parse-param {nsAssl::ParserState* state} {yyscan_t scanner}
%lex-param {yyscan_t scanner}

%union {
  AsslText text;
  int32_t number;
  AsslArg arg;
  nsAssl::expr_t* expr;
}

%token RULE METARULE CONDITION ACTIONS METADATA NONE ALL ANY AS_TRUE AS_FALSE
%token MATCH EXISTS IS_EMPTY IS_KNN_CATEG SCORE_GREATER_THAN SIZE_GREATER_THAN
%token EXACT EXACT_INSENSITIVE OBFUSCATED REGEX REGEX_INSENSITIVE REGEX_SUMMARY
%token IP_RANGE IP_CLASS IP_MASK RAW DECODED
%token HEADERS PART_HEADERS PARTS URLS URL HTML IM TEXT TEXT_PLAIN TEXT_HTML MULTI
%token COLLECTION BODY TITLE META FORMS COMMENTS IMAGES AHREF SCRIPT HOST PATH PARAMS
%token MESSAGE TOTAL_SIZE ANY_ATTACHMENT_SIZE
%token SET_CATEGORY EXEC INCREASE_SCORE MARK ADD_HEADER ADD_TO_HEADER
%token ENABLED RELEVANCE COMMENT PRIORITY
%token ALL_OR_OP OR_OP ALL_AND_OP AND_OP EQ_OP NE_OP NOT_OP SCOPE_OP
%token <text> NAME STRING_LITERAL
%token <number> CONSTANT

%type <arg> where_to_match what_exists what_exists_with_additional_info what_is_empty
%type <number> how_to_match part_mode item_which_size_matters boolean
%type <arg> compare_value category_to_set score_increase category_to_mark score_mark
%type <arg> header_name_to_add header_name_to_add_to
%type <text> what_to_match header_value_to_add header_value_to_append
%type <expr> expression logical_or_expression logical_and_expression
%type <expr> equality_expression negated_expression primary_expression

%start input

%%

input
  : %empty
  | input rule
  | input error rule   { state->Recover("input error: text outside rules?"); }
  ;

rule
  : simple_rule
  | meta_rule
  ;

simple_rule
  : RULE NAME { state->BeginRule($2.data, $2.length, nsAssl::kSimpleRule); }
    simple_scope { state->CompleteRule(); }
  ;

simple_scope
  : '{' simple_body '}'
  | '{' error '}'      { state->Recover("invalid body structure - check sections!"); }
  ;

simple_body
  : simple_condsection actsection metasection
  ;

meta_rule
  : METARULE NAME { state->BeginRule($2.data, $2.length, nsAssl::kMetaRule); }
    meta_scope { state->CompleteRule(); }
  ;

meta_scope
  : '{' meta_body '}'
  | '{' error '}'      { state->Recover("invalid body structure - check sections!"); }
  ;

meta_body
  : meta_condsection actsection metasection
  ;

simple_condsection
  : CONDITION ':' NONE ';' { state->AddItem(nsAssl::kGroupCondition, nsAssl::kCondNone,
                                            {AttributeValue::Number(nsAssl::kAttrNone, 1)}); }
  | CONDITION ':' simple_condition
  ;

simple_condition
  : match ';'
  | exists ';'
  | is_empty ';'
  | cond_exec ';'
  | is_knn_categ ';'
  | score_greater_than ';'
  | size_greater_than ';'
  | error ';'          { state->Recover("invalid condition"); }
  ;

meta_condsection
  : CONDITION ':' NONE ';' { state->AddItem(nsAssl::kGroupCondition, nsAssl::kCondNone,
                                            {AttributeValue::Number(nsAssl::kAttrNone, 1)}); }
  | CONDITION ':' meta_condition
  ;

meta_condition
  : expression ';'     { state->AddItem(nsAssl::kGroupCondition, nsAssl::kCondExpr,
                                        {AttributeValue::Expr(nsAssl::kAttrExprRoot, $1)}); }
  | error ';'          { state->Recover("invalid condition expression - check your syntax!"); }
  ;

actsection
  : ACTIONS ':' NONE ';'
  | ACTIONS ':' actions
  ;

actions
  : %empty
  | actions action
  ;

action
  : set_category ';'
  | increase_score ';'
  | mark ';'
  | act_exec ';'
  | add_header ';'
  | add_to_header ';'
  | error ';'          { state->Recover("invalid action item"); }
  ;

metasection
  : METADATA ':' NONE ';'
  | METADATA ':' metadata
  ;

metadata
  : %empty
  | metadata metainfo
  ;

metainfo
  : state ';'
  | relevance ';'
  | comment ';'
  | priority ';'
  | error ';'          { state->Recover("invalid metainfo item"); }
  ;

match
  : MATCH '(' what_to_match ',' where_to_match ',' how_to_match ')' {
      RecordMatch(state, $3, $5, $7, 0);
    }
  | MATCH '(' what_to_match ',' where_to_match ',' how_to_match ',' part_mode ')' {
      RecordMatch(state, $3, $5, $7, $9);
    }
  | MATCH '(' error ')'  { state->Recover("syntax error: invalid match condition"); }
  ;

what_to_match
  : STRING_LITERAL
  ;

/* A place: number is its code; a named header also gives its name under the
   attribute code in `code`. */
where_to_match
  : HEADERS SCOPE_OP STRING_LITERAL      { $$ = {nsAssl::kAttrHeaderName, nsAssl::kHeadersNamed, $3.data, $3.length}; }
  | HEADERS SCOPE_OP ALL                 { $$ = {0, nsAssl::kHeadersAll, nullptr, 0}; }
  | PARTS SCOPE_OP ALL                   { $$ = {0, nsAssl::kPartsAll, nullptr, 0}; }
  | PARTS SCOPE_OP TEXT                  { $$ = {0, nsAssl::kPartsText, nullptr, 0}; }
  | PARTS SCOPE_OP TEXT_PLAIN            { $$ = {0, nsAssl::kPartsTextPlain, nullptr, 0}; }
  | PARTS SCOPE_OP TEXT_HTML             { $$ = {0, nsAssl::kPartsTextHtml, nullptr, 0}; }
  | PARTS SCOPE_OP MULTI                 { $$ = {0, nsAssl::kPartsMulti, nullptr, 0}; }
  | PART_HEADERS SCOPE_OP STRING_LITERAL { $$ = {nsAssl::kAttrPartHeaderName, nsAssl::kPartHeadersNamed, $3.data, $3.length}; }
  | PART_HEADERS SCOPE_OP ALL            { $$ = {0, nsAssl::kPartHeadersAll, nullptr, 0}; }
  | URLS SCOPE_OP ALL                    { $$ = {0, nsAssl::kUrlsAll, nullptr, 0}; }
  | HTML SCOPE_OP BODY                   { $$ = {0, nsAssl::kHtmlBody, nullptr, 0}; }
  | HTML SCOPE_OP URL                    { $$ = {0, nsAssl::kHtmlUrl, nullptr, 0}; }
  | HTML SCOPE_OP TITLE                  { $$ = {0, nsAssl::kHtmlTitle, nullptr, 0}; }
  | HTML SCOPE_OP META                   { $$ = {0, nsAssl::kHtmlMeta, nullptr, 0}; }
  | HTML SCOPE_OP FORMS                  { $$ = {0, nsAssl::kHtmlForms, nullptr, 0}; }
  | HTML SCOPE_OP COMMENTS               { $$ = {0, nsAssl::kHtmlComments, nullptr, 0}; }
  | HTML SCOPE_OP IMAGES                 { $$ = {0, nsAssl::kHtmlImages, nullptr, 0}; }
  | HTML SCOPE_OP AHREF                  { $$ = {0, nsAssl::kHtmlAHref, nullptr, 0}; }
  | HTML SCOPE_OP SCRIPT                 { $$ = {0, nsAssl::kHtmlScript, nullptr, 0}; }
  | URL SCOPE_OP HOST                    { $$ = {0, nsAssl::kUrlHost, nullptr, 0}; }
  | URL SCOPE_OP PATH                    { $$ = {0, nsAssl::kUrlPath, nullptr, 0}; }
  | URL SCOPE_OP PARAMS                  { $$ = {0, nsAssl::kUrlParams, nullptr, 0}; }
  | IM SCOPE_OP TEXT                     { $$ = {0, nsAssl::kImText, nullptr, 0}; }
  ;

how_to_match
  : EXACT               { $$ = nsAssl::kExact; }
  | EXACT_INSENSITIVE   { $$ = nsAssl::kExactInsensitive; }
  | OBFUSCATED          { $$ = nsAssl::kObfuscated; }
  | REGEX               { $$ = nsAssl::kRegex; }
  | REGEX_INSENSITIVE   { $$ = nsAssl::kRegexInsensitive; }
  | REGEX_SUMMARY       { $$ = nsAssl::kRegexSummary; }
  | IP_RANGE            { $$ = nsAssl::kIpRange; }
  | IP_CLASS            { $$ = nsAssl::kIpClass; }
  | IP_MASK             { $$ = nsAssl::kIpMask; }
  ;

part_mode
  : RAW                 { $$ = nsAssl::kPartRaw; }
  | DECODED             { $$ = nsAssl::kPartDecoded; }
  ;

exists
  : EXISTS '(' what_exists ')' {
      RecordPlace(state, nsAssl::kCondExists, nsAssl::kAttrExistsWhat, $3);
    }
  | EXISTS '(' what_exists_with_additional_info ')' {
      RecordPlace(state, nsAssl::kCondExists, nsAssl::kAttrExistsWhat, $3);
    }
  | EXISTS '(' error ')'  { state->Recover("syntax error: invalid exists condition"); }
  ;

what_exists
  : HEADERS SCOPE_OP STRING_LITERAL { $$ = {nsAssl::kAttrHeaderName, nsAssl::kHeadersNamed, $3.data, $3.length}; }
  | PARTS SCOPE_OP ALL              { $$ = {0, nsAssl::kPartsAll, nullptr, 0}; }
  | PARTS SCOPE_OP TEXT             { $$ = {0, nsAssl::kPartsText, nullptr, 0}; }
  | PARTS SCOPE_OP TEXT_PLAIN       { $$ = {0, nsAssl::kPartsTextPlain, nullptr, 0}; }
  | PARTS SCOPE_OP TEXT_HTML        { $$ = {0, nsAssl::kPartsTextHtml, nullptr, 0}; }
  ;

what_exists_with_additional_info
  : HEADERS SCOPE_OP COLLECTION ',' STRING_LITERAL {
      $$ = {nsAssl::kAttrExistsCollection, nsAssl::kHeadersCollection, $5.data, $5.length};
    }
  ;

is_empty
  : IS_EMPTY '(' what_is_empty ')' {
      RecordPlace(state, nsAssl::kCondIsEmpty, nsAssl::kAttrEmptyWhat, $3);
    }
  | IS_EMPTY '(' error ')'  { state->Recover("syntax error: invalid is_empty condition"); }
  ;

what_is_empty
  : HEADERS SCOPE_OP STRING_LITERAL { $$ = {nsAssl::kAttrHeaderName, nsAssl::kHeadersNamed, $3.data, $3.length}; }
  | PARTS SCOPE_OP ALL              { $$ = {0, nsAssl::kPartsAll, nullptr, 0}; }
  | PARTS SCOPE_OP TEXT             { $$ = {0, nsAssl::kPartsText, nullptr, 0}; }
  | PARTS SCOPE_OP TEXT_PLAIN       { $$ = {0, nsAssl::kPartsTextPlain, nullptr, 0}; }
  | PARTS SCOPE_OP TEXT_HTML        { $$ = {0, nsAssl::kPartsTextHtml, nullptr, 0}; }
  ;

cond_exec
  : EXEC '(' NAME ')' {
      state->AddItem(nsAssl::kGroupCondition, nsAssl::kCondExec,
                     {AttributeValue::Text(nsAssl::kAttrCondExecName, $3.data, $3.length)});
    }
  | EXEC '(' error ')'  { state->Recover("syntax error: invalid execute condition"); }
  ;

is_knn_categ
  : IS_KNN_CATEG '(' STRING_LITERAL ',' CONSTANT ')' {
      state->AddItem(nsAssl::kGroupCondition, nsAssl::kCondKnnCateg,
                     {AttributeValue::Text(nsAssl::kAttrKnnCategory, $3.data, $3.length),
                      AttributeValue::Number(nsAssl::kAttrKnnNumber, $5)});
    }
  | IS_KNN_CATEG '(' STRING_LITERAL ')' {
      state->AddItem(nsAssl::kGroupCondition, nsAssl::kCondKnnCateg,
                     {AttributeValue::Text(nsAssl::kAttrKnnCategory, $3.data, $3.length),
                      AttributeValue::Number(nsAssl::kAttrKnnNumber, 100)});
    }
  | IS_KNN_CATEG '(' error ')'  { state->Recover("syntax error: invalid match KNN category condition"); }
  ;

score_greater_than
  : SCORE_GREATER_THAN '(' NAME ',' compare_value ')' {
      state->AddItem(nsAssl::kGroupCondition, nsAssl::kCondScoreGreater,
                     {AttributeValue::Text(nsAssl::kAttrScoreName, $3.data, $3.length),
                      ArgValue($5, $5.code == nsAssl::kAttrScoreCompareName)});
    }
  | SCORE_GREATER_THAN '(' error ')'  { state->Recover("syntax error: invalid score greater condition"); }
  ;

compare_value
  : CONSTANT  { $$ = {nsAssl::kAttrScoreCompareValue, $1, nullptr, 0}; }
  | NAME      { $$ = {nsAssl::kAttrScoreCompareName, 0, $1.data, $1.length}; }
  ;

size_greater_than
  : SIZE_GREATER_THAN '(' item_which_size_matters ',' CONSTANT ')' {
      state->AddItem(nsAssl::kGroupCondition, nsAssl::kCondSizeGreater,
                     {AttributeValue::Number(nsAssl::kAttrSizeWhat, $3),
                      AttributeValue::Number(nsAssl::kAttrSizeLimit, $5)});
    }
  | SIZE_GREATER_THAN '(' error ')'  { state->Recover("syntax error: invalid size greater condition"); }
  ;

item_which_size_matters
  : MESSAGE SCOPE_OP TOTAL_SIZE           { $$ = nsAssl::kSizeTotal; }
  | MESSAGE SCOPE_OP ANY_ATTACHMENT_SIZE  { $$ = nsAssl::kSizeAnyAttachment; }
  ;

set_category
  : SET_CATEGORY '(' category_to_set ')' {
      state->AddItem(nsAssl::kGroupAction, nsAssl::kActSetCategory, {ArgValue($3, true)});
    }
  | SET_CATEGORY '(' error ')'  { state->Recover("syntax error: invalid set_category action"); }
  ;

category_to_set
  : STRING_LITERAL  { $$ = {nsAssl::kAttrCategoryLiteral, 0, $1.data, $1.length}; }
  | NAME            { $$ = {nsAssl::kAttrCategoryName, 0, $1.data, $1.length}; }
  ;

increase_score
  : INCREASE_SCORE '(' NAME ',' score_increase ')' {
      state->AddItem(nsAssl::kGroupAction, nsAssl::kActIncreaseScore,
                     {AttributeValue::Text(nsAssl::kAttrIncreaseOf, $3.data, $3.length),
                      ArgValue($5, $5.code == nsAssl::kAttrIncreaseByName)});
    }
  | INCREASE_SCORE '(' error ')'  { state->Recover("syntax error: invalid increase_score action"); }
  ;

score_increase
  : CONSTANT  { $$ = {nsAssl::kAttrIncreaseByValue, $1, nullptr, 0}; }
  | NAME      { $$ = {nsAssl::kAttrIncreaseByName, 0, $1.data, $1.length}; }
  ;

mark
  : MARK '(' category_to_mark ',' score_mark ')' {
      state->AddItem(nsAssl::kGroupAction, nsAssl::kActMark,
                     {ArgValue($3, true), ArgValue($5, $5.code == nsAssl::kAttrMarkScoreName)});
    }
  | MARK '(' error ')'  { state->Recover("syntax error: invalid mark action"); }
  ;

category_to_mark
  : STRING_LITERAL  { $$ = {nsAssl::kAttrMarkCategoryLiteral, 0, $1.data, $1.length}; }
  | NAME            { $$ = {nsAssl::kAttrMarkCategoryName, 0, $1.data, $1.length}; }
  ;

score_mark
  : CONSTANT  { $$ = {nsAssl::kAttrMarkScoreValue, $1, nullptr, 0}; }
  | NAME      { $$ = {nsAssl::kAttrMarkScoreName, 0, $1.data, $1.length}; }
  ;

add_header
  : ADD_HEADER '(' header_name_to_add ',' header_value_to_add ')' {
      state->AddItem(nsAssl::kGroupAction, nsAssl::kActAddHeader,
                     {ArgValue($3, true),
                      AttributeValue::Text(nsAssl::kAttrHeaderValue, $5.data, $5.length)});
    }
  | ADD_HEADER '(' error ')'  { state->Recover("syntax error: invalid add header action"); }
  ;

header_name_to_add
  : STRING_LITERAL  { $$ = {nsAssl::kAttrHeaderLiteral, 0, $1.data, $1.length}; }
  | NAME            { $$ = {nsAssl::kAttrHeaderNamed, 0, $1.data, $1.length}; }
  ;

header_value_to_add
  : STRING_LITERAL
  ;

add_to_header
  : ADD_TO_HEADER '(' header_name_to_add_to ',' header_value_to_append ')' {
      state->AddItem(nsAssl::kGroupAction, nsAssl::kActAddToHeader,
                     {ArgValue($3, true),
                      AttributeValue::Text(nsAssl::kAttrHeaderValue, $5.data, $5.length)});
    }
  | ADD_TO_HEADER '(' error ')'  { state->Recover("syntax error: invalid add to header action"); }
  ;

header_name_to_add_to
  : STRING_LITERAL  { $$ = {nsAssl::kAttrHeaderLiteral, 0, $1.data, $1.length}; }
  | NAME            { $$ = {nsAssl::kAttrHeaderNamed, 0, $1.data, $1.length}; }
  ;

header_value_to_append
  : STRING_LITERAL
  ;

act_exec
  : EXEC '(' NAME ')' {
      state->AddItem(nsAssl::kGroupAction, nsAssl::kActExec,
                     {AttributeValue::Text(nsAssl::kAttrActExecName, $3.data, $3.length)});
    }
  | EXEC '(' error ')'  { state->Recover("syntax error: invalid execute condition"); }
  ;

state
  : ENABLED '=' boolean {
      state->AddItem(nsAssl::kGroupMetainfo, nsAssl::kMetaState,
                     {AttributeValue::Number(nsAssl::kAttrState, $3)});
    }
  ;

relevance
  : RELEVANCE '=' CONSTANT {
      state->AddItem(nsAssl::kGroupMetainfo, nsAssl::kMetaRelevance,
                     {AttributeValue::Number(nsAssl::kAttrRelevance, $3)});
    }
  ;

comment
  : COMMENT '=' STRING_LITERAL {
      state->AddItem(nsAssl::kGroupMetainfo, nsAssl::kMetaComment,
                     {AttributeValue::Text(nsAssl::kAttrComment, $3.data, $3.length)});
    }
  ;

priority
  : PRIORITY '=' CONSTANT {
      state->AddItem(nsAssl::kGroupMetainfo, nsAssl::kMetaPriority,
                     {AttributeValue::Number(nsAssl::kAttrPriority, $3)});
    }
  ;

boolean
  : AS_TRUE   { $$ = 1; }
  | AS_FALSE  { $$ = 0; }
  ;

expression
  : logical_or_expression
  ;

logical_or_expression
  : logical_and_expression
  | logical_or_expression OR_OP logical_and_expression      { $$ = state->NewOperator(nsAssl::kOpOr, $1, $3); }
  | logical_or_expression ALL_OR_OP logical_and_expression  { $$ = state->NewOperator(nsAssl::kOpAllOr, $1, $3); }
  ;

logical_and_expression
  : equality_expression
  | logical_and_expression AND_OP equality_expression      { $$ = state->NewOperator(nsAssl::kOpAnd, $1, $3); }
  | logical_and_expression ALL_AND_OP equality_expression  { $$ = state->NewOperator(nsAssl::kOpAllAnd, $1, $3); }
  ;

equality_expression
  : negated_expression
  | equality_expression EQ_OP negated_expression  { $$ = state->NewOperator(nsAssl::kOpEq, $1, $3); }
  | equality_expression NE_OP negated_expression  { $$ = state->NewOperator(nsAssl::kOpNe, $1, $3); }
  ;

negated_expression
  : primary_expression
  | NOT_OP primary_expression  { $$ = state->NewOperator(nsAssl::kOpNot, $2, nullptr); }
  ;

primary_expression
  : boolean             { $$ = state->NewBoolLeaf($1 != 0); }
  | NAME                { $$ = state->NewNameLeaf($1.data, $1.length); }
  | '(' expression ')'  { $$ = $2; }
  ;

%%
