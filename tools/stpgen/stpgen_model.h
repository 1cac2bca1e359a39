// The model of one interface definition, as the reader builds it and the
// emitter walks it: the interface name and encoding, its two roles, its
// record types, and per role the messages it receives in declaration order,
// each with its spec string parsed into typed fields.
//
// Plain value types; the Interface owns everything (records are held by
// unique_ptr so that the Record pointers stored in field types stay valid).
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace stpgen {

// What a field holds. Int comes from %num% (ASCII) or %u4% (binary); Bool
// from %u1% or from a %num% field the interface marks as a flag.
enum class Kind {
  Int,
  Bool,
  Str,     // %str%
  Fn,      // %fn%: a file name, expanded by the sender
  Record,  // { fields }, bound to a declared record type
  Array,   // *(count)[element]: length in the integer field `count`
  List,    // [%str%]: length carried by the encoding; a ut_string_list
  DArray,  // %dar%(count, %u4%): binary array of 32-bit ints
};

struct Record;
struct Field;

struct Type {
  Kind kind = Kind::Int;
  bool wireU1 = false;              // Bool written as %u1% (binary)
  std::string wire;                 // scalars: its type as written in a spec string ("%num%", "%u4%", ...)
  std::vector<Field> fields;        // Record: the inline layout
  std::shared_ptr<Type> elem;       // Array, List: the element type
  std::string countField;           // Array, DArray: the length field
  const Record *record = nullptr;   // Record: the declaration it is bound to
};

struct Field {
  std::string name;
  Type type;
};

// A named record type of the interface. Its C++ type is
// <Interface>_<name>; `alias` (may be empty) names an extra type alias.
struct Record {
  std::string name;
  std::string spec;
  std::string alias;
  int line = 0;
  std::vector<Field> fields;
};

struct Message {
  std::string name;
  std::string spec;  // exactly as written in the interface file
  int flags = 0;
  int line = 0;
  std::vector<Field> request;
  std::vector<Field> reply;
  bool wantsReply() const { return (flags & 1) != 0; }
};

struct Role {
  std::string name;
  bool serving = false;           // default RNs 2/1; initiating roles use 1/2
  std::vector<Message> messages;  // declaration order (handler slot order)
};

struct Interface {
  std::string file;  // path of the interface file, for banners
  std::string name;
  std::string vstamp;
  bool binary = false;
  Role roles[2];
  std::vector<std::unique_ptr<Record>> records;
  std::vector<std::string> tagNames;  // binary: sorted distinct field names

  // The other role of `r` (0 or 1).
  const Role &peer(int r) const { return roles[1 - r]; }
};

// Messages of a role sorted by name as strcmp orders them: the table order.
std::vector<const Message *> sortedMessages(const Role &role);
// The index of a tag name in the interface's tag list; -1 when absent.
int tagIndex(const Interface &itf, const std::string &name);

}  // namespace stpgen
