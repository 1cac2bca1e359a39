// The service of a test service library: "Test.SharedObject". The
// library's entry points are shared_object_entry.cpp; loaded into the test
// program, it uses that program's symbols (the STP runtime, the factory
// list, SharedObject_Proxy) instead of copies.
#include "so_test_service.h"

namespace {

srtest::TestFactory g_factory("Test.SharedObject");

}  // namespace
