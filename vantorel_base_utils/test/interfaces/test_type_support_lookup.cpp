// SPDX-License-Identifier: Apache-2.0
// End to end: each type-support handle, asked through its own look-up function, finds the
// package's generated type supports at run time (the libraries must be on LD_LIBRARY_PATH).

#include <gtest/gtest.h>
#include <rcutils/error_handling.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <rosidl_typesupport_introspection_cpp/message_introspection.hpp>
#include <rosidl_typesupport_introspection_cpp/service_introspection.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "interfaces/handle_views.hpp"

namespace {

using vantorel_test::HandleView;
using vantorel_test::packageHandles;
using IntrospectedMessage = rosidl_typesupport_introspection_cpp::MessageMembers;
using IntrospectedService = rosidl_typesupport_introspection_cpp::ServiceMembers;

constexpr const char* kIntrospection = "rosidl_typesupport_introspection_cpp";
constexpr const char* kFastRtps = "rosidl_typesupport_fastrtps_cpp";

// Field names of a definition file, per section ("---" separates request and response).
// Constants (NAME=value) are not fields.
std::vector<std::vector<std::string>> definitionFields(const std::string& relative_path) {
  const char* dir = std::getenv("VANTOREL_INTERFACE_DIR");
  std::ifstream file(std::string(dir ? dir : ".") + "/" + relative_path);
  EXPECT_TRUE(file.is_open()) << relative_path;
  std::vector<std::vector<std::string>> sections(1);
  std::string line;
  while (std::getline(file, line)) {
    line = line.substr(0, line.find('#'));
    std::istringstream words(line);
    std::string type, name;
    if (!(words >> type))
      continue;
    if (type == "---") {
      sections.emplace_back();
    } else if (words >> name && name.find('=') == std::string::npos &&
               line.find('=') == std::string::npos) {
      sections.back().push_back(name);
    }
  }
  return sections;
}

std::vector<std::string> memberNames(const IntrospectedMessage& members) {
  std::vector<std::string> names;
  for (uint32_t i = 0; i < members.member_count_; ++i)
    names.push_back(members.members_[i].name_);
  return names;
}

const IntrospectedMessage& introspectedMessage(const void* handle) {
  return *static_cast<const IntrospectedMessage*>(
      static_cast<const rosidl_message_type_support_t*>(handle)->data);
}

std::string takeError() {
  std::string text = rcutils_get_error_string().str;
  rcutils_reset_error();
  return text;
}

// The sections of the definition file a handle's type comes from.
std::vector<std::string> expectedFields(const HandleView& view) {
  if (view.kind == "message" && view.qualified.rfind("msg__", 0) == 0) {
    return definitionFields("msg/" + view.type_name + ".msg").at(0);
  }
  const auto sections = definitionFields("srv/GetStableTransform.srv");
  EXPECT_EQ(sections.size(), 2u);
  return view.type_name == "GetStableTransform_Response" ? sections.at(1) : sections.at(0);
}

bool listed(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

TEST(TypeSupportLookUp, IntrospectionResolvesToTheGeneratedTypeSupportOnce) {
  const int slot = vantorel_test::slotOf(kIntrospection);
  ASSERT_GE(slot, 0) << "every build generates the introspection type support";
  for (const HandleView& view : packageHandles()) {
    SCOPED_TRACE(view.qualified);
    const void* resolved = view.lookup(kIntrospection);
    ASSERT_NE(resolved, nullptr) << takeError();
    EXPECT_STREQ(
        static_cast<const rosidl_message_type_support_t*>(resolved)->typesupport_identifier,
        kIntrospection);
    if (vantorel_test::dispatchesThroughMap()) {
      EXPECT_NE(view.map()->data[slot], nullptr) << "the loaded library is kept in its slot";
    } else {
      EXPECT_EQ(resolved, view.get()) << "a single type support is the handle itself";
    }
    EXPECT_EQ(view.lookup(kIntrospection), resolved);

    if (view.kind == "service") {
      const auto& service = *static_cast<const IntrospectedService*>(
          static_cast<const rosidl_service_type_support_t*>(resolved)->data);
      EXPECT_STREQ(service.service_namespace_, "vantorel_base_utils::srv");
      EXPECT_STREQ(service.service_name_, "GetStableTransform");
      const auto sections = definitionFields("srv/GetStableTransform.srv");
      EXPECT_EQ(memberNames(*service.request_members_), sections.at(0));
      EXPECT_EQ(memberNames(*service.response_members_), sections.at(1));
      continue;
    }
    const IntrospectedMessage& message = introspectedMessage(resolved);
    EXPECT_STREQ(message.message_name_, view.type_name.c_str());
    EXPECT_EQ(memberNames(message), expectedFields(view));
  }
}

TEST(TypeSupportLookUp, OwnIdentifierReturnsTheHandleItself) {
  for (const HandleView& view : packageHandles()) {
    SCOPED_TRACE(view.qualified);
    EXPECT_EQ(view.lookup(view.identifier), view.get());
    // The text decides here, not the address: a copy of the string matches as well.
    const std::string copy = view.identifier;
    EXPECT_EQ(view.lookup(copy.c_str()), view.get());
  }
}

TEST(TypeSupportLookUp, EveryGeneratedTypeSupportResolves) {
  for (const HandleView& view : packageHandles()) {
    SCOPED_TRACE(view.qualified);
    for (const std::string& typesupport : vantorel_test::builtTypeSupports()) {
      const void* resolved = view.lookup(typesupport.c_str());
      ASSERT_NE(resolved, nullptr) << typesupport << ": " << takeError();
      EXPECT_EQ(static_cast<const rosidl_message_type_support_t*>(resolved)->typesupport_identifier,
                typesupport);
    }
  }
}

TEST(TypeSupportLookUp, TypeSupportsNotGeneratedGiveNull) {
  const auto dispatched = vantorel_test::dispatchedTypeSupports();
  const auto built = vantorel_test::builtTypeSupports();
  for (const HandleView& view : packageHandles()) {
    SCOPED_TRACE(view.qualified);
    rcutils_reset_error();
    EXPECT_EQ(view.lookup("rosidl_typesupport_no_such_cpp"), nullptr);
    if (vantorel_test::dispatchesThroughMap()) {
      EXPECT_TRUE(rcutils_error_is_set());
    }
    takeError();
    if (!listed(dispatched, kFastRtps)) {
      EXPECT_EQ(view.lookup(kFastRtps), nullptr);
    }

    // Named in the map, but its library was never generated (no Fast-RTPS on plain Debian).
    for (const std::string& typesupport : dispatched) {
      if (listed(built, typesupport))
        continue;
      EXPECT_EQ(view.lookup(typesupport.c_str()), nullptr);
      ASSERT_TRUE(rcutils_error_is_set());
      EXPECT_NE(takeError().find("vantorel_base_utils__" + typesupport), std::string::npos);
      EXPECT_EQ(view.map()->data[vantorel_test::slotOf(typesupport)], nullptr);
      // A failed load is not remembered as success: asking again fails again.
      EXPECT_EQ(view.lookup(typesupport.c_str()), nullptr);
      EXPECT_TRUE(rcutils_error_is_set());
      takeError();
    }
  }
}

}  // namespace
