// SPDX-License-Identifier: Apache-2.0
// The look-up functions of rosidl_typesupport_cpp (ROS 2's own in a workspace, the stand-in
// on plain Debian), driven with hand-made maps: a look-up that cannot succeed gives null with
// the error set. The stand-in also survives malformed records and concurrent first look-ups,
// which ROS 2's run time does not promise; those cases run against the stand-in only.

#include <gtest/gtest.h>
#include <rcutils/error_handling.h>
#include <rosidl_runtime_c/message_type_support_struct.h>
#include <rosidl_typesupport_c/type_support_map.h>

#include <rosidl_typesupport_cpp/identifier.hpp>
#include <rosidl_typesupport_cpp/message_type_support_dispatch.hpp>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr bool kFromStandIn = VANTOREL_TYPESUPPORT_FROM_STANDINS;
constexpr const char* kIntrospection = "rosidl_typesupport_introspection_cpp";
constexpr const char* kStatusSymbol =
    "rosidl_typesupport_introspection_cpp__get_message_type_support_handle__vantorel_base_utils__"
    "msg__StableTransformStatus";

// A one-entry dispatch record set. Instances are static: a loaded library stays in its slot
// for the life of the process, as it does for generated handles.
struct MessageEntry {
  MessageEntry(const char* package, const char* symbol,
               rosidl_message_type_support_t handle_template)
      : identifiers{kIntrospection},
        symbols{symbol},
        map{1, package, identifiers, symbols, slots},
        handle(handle_template) {
    handle.data = &map;
  }
  const char* identifiers[1];
  const char* symbols[1];
  void* slots[1] = {nullptr};
  const type_support_map_t map;
  rosidl_message_type_support_t handle;
};

// Only the three fields every ROS 2 release has are set; newer releases add more.
rosidl_message_type_support_t messageHandle(const char* identifier,
                                            rosidl_message_typesupport_handle_function func) {
  rosidl_message_type_support_t handle{};
  handle.typesupport_identifier = identifier;
  handle.func = func;
  return handle;
}

rosidl_message_type_support_t dispatchingMessage() {
  return messageHandle(rosidl_typesupport_cpp::typesupport_identifier,
                       &rosidl_typesupport_cpp::get_message_typesupport_handle_function);
}

const rosidl_message_type_support_t* lookUp(const rosidl_message_type_support_t* handle,
                                            const char* identifier) {
  return rosidl_typesupport_cpp::get_message_typesupport_handle_function(handle, identifier);
}

std::string takeError() {
  EXPECT_TRUE(rcutils_error_is_set());
  std::string text = rcutils_get_error_string().str;
  rcutils_reset_error();
  return text;
}

bool mentions(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(TypeSupportDispatch, MissingLibraryOrSymbolGivesNullWithTheReason) {
  static MessageEntry no_library("no_such_package", kStatusSymbol, dispatchingMessage());
  EXPECT_EQ(lookUp(&no_library.handle, kIntrospection), nullptr);
  EXPECT_TRUE(mentions(takeError(), "no_such_package__rosidl_typesupport_introspection_cpp"));
  EXPECT_EQ(no_library.slots[0], nullptr);

  static MessageEntry no_symbol("vantorel_base_utils", "no_such_entry_point", dispatchingMessage());
  EXPECT_EQ(lookUp(&no_symbol.handle, kIntrospection), nullptr);
  EXPECT_TRUE(mentions(takeError(), "no_such_entry_point"));
}

#if VANTOREL_TYPESUPPORT_FROM_STANDINS
TEST(TypeSupportDispatch, MalformedArgumentsGiveNullWithAnError) {
  static MessageEntry null_symbol("vantorel_base_utils", nullptr, dispatchingMessage());
  EXPECT_EQ(lookUp(&null_symbol.handle, kIntrospection), nullptr);
  takeError();

  static MessageEntry entry("vantorel_base_utils", kStatusSymbol, dispatchingMessage());
  EXPECT_EQ(lookUp(nullptr, kIntrospection), nullptr);
  takeError();
  EXPECT_EQ(lookUp(&entry.handle, nullptr), nullptr);
  takeError();

  rosidl_message_type_support_t no_identifier = dispatchingMessage();
  no_identifier.typesupport_identifier = nullptr;
  EXPECT_EQ(lookUp(&no_identifier, kIntrospection), nullptr);
  takeError();

  rosidl_message_type_support_t no_map = dispatchingMessage();
  EXPECT_EQ(lookUp(&no_map, kIntrospection), nullptr);
  takeError();

  static void* slots[1] = {nullptr};
  static const type_support_map_t incomplete{1, nullptr, nullptr, nullptr, slots};
  rosidl_message_type_support_t incomplete_map = dispatchingMessage();
  incomplete_map.data = &incomplete;
  EXPECT_EQ(lookUp(&incomplete_map, kIntrospection), nullptr);
  takeError();
}
#endif

TEST(TypeSupportDispatch, OnlyHandlesCarryingTheRuntimeIdentifierAreDispatched) {
  static MessageEntry entry("vantorel_base_utils", kStatusSymbol, dispatchingMessage());
  // Same text, other address: not one of ours, so its data is not read as a map.
  static const std::string copied_identifier = rosidl_typesupport_cpp::typesupport_identifier;
  rosidl_message_type_support_t impostor = entry.handle;
  impostor.typesupport_identifier = copied_identifier.c_str();
  EXPECT_EQ(lookUp(&impostor, kIntrospection), nullptr);
  takeError();
  EXPECT_EQ(entry.slots[0], nullptr);

  // A concrete handle asked for its own identifier is returned unchanged.
  rosidl_message_type_support_t concrete = messageHandle("some_typesupport_cpp", nullptr);
  EXPECT_EQ(lookUp(&concrete, "some_typesupport_cpp"), &concrete);
}

TEST(TypeSupportDispatch, IdentifierOutsideTheMapGivesNull) {
  static MessageEntry entry("vantorel_base_utils", kStatusSymbol, dispatchingMessage());
  EXPECT_EQ(lookUp(&entry.handle, "rosidl_typesupport_fastrtps_cpp"), nullptr);
  const std::string error = takeError();
  if (kFromStandIn) {
    EXPECT_TRUE(mentions(error, "rosidl_typesupport_fastrtps_cpp")) << "the stand-in says which";
  }
  EXPECT_EQ(entry.slots[0], nullptr);
}

#if VANTOREL_TYPESUPPORT_FROM_STANDINS
TEST(TypeSupportDispatch, ConcurrentFirstLookUpsAgreeOnOneLibrary) {
  static MessageEntry entry("vantorel_base_utils", kStatusSymbol, dispatchingMessage());
  constexpr int kThreads = 8;
  std::vector<const rosidl_message_type_support_t*> results(kThreads, nullptr);
  std::vector<void*> slots_seen(kThreads, nullptr);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      results[static_cast<size_t>(i)] = lookUp(&entry.handle, kIntrospection);
      slots_seen[static_cast<size_t>(i)] = entry.slots[0];
    });
  }
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(std::set<const void*>(results.begin(), results.end()).size(), 1u);
  EXPECT_NE(results[0], nullptr);
  EXPECT_EQ(std::set<void*>(slots_seen.begin(), slots_seen.end()).size(), 1u);
}
#endif

}  // namespace
