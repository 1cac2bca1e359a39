// ut_options_database_reader: reads the statements of an options-database
// file from a ut_file_parser into a node of the database's tree. Internal
// to the options database (see ut_options_database.h for the syntax).
//
// Errors are reported as "%s: parse error: %s" with the parser's position.
// Blocks nest at most kMaxDepth deep, which keeps hostile files from
// building trees too deep to walk. One thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "shared/libcxxutil/ut_attribute_tree.h"

class ut_file_parser;
class ut_options_database;

class ut_options_database_reader {
 public:
  static constexpr int kMaxDepth = 200;

  // Neither the database, the parser nor the node is owned.
  ut_options_database_reader(ut_options_database &db, ut_file_parser &parser, ut_attribute_tree *start);
  // Reads to the end of the input (or the first error unless the database
  // continues after errors); false when any error occurred.
  bool run();

 private:
  struct value {
    ut_attribute_type type = UT_ATTRIBUTE_STR;
    std::string str;
    int32_t int32 = 0;
    std::vector<std::string> strs;
    std::vector<int32_t> ints;
  };

  bool statement(std::string token, bool quoted);
  bool open_block(ut_attribute_tree *node, const std::string &name, int depth);
  void close_block();
  bool assign(ut_attribute_tree *node, const std::string &key, bool append);
  bool store_list(ut_attribute_tree *node, const std::string &key, const value &v, bool append);
  bool parse_value(value &v);
  bool parse_list(value &v);
  bool parse_number(std::string token, int32_t *out);
  bool next_on_line(std::string &token, bool *quoted);
  bool error(const char *message);

  ut_options_database &db_;
  ut_file_parser &parser_;
  ut_attribute_tree *start_;
  ut_attribute_tree *current_;
  int depth_ = 0;  // of current_ below start_
};
