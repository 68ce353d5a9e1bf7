// SPDX-License-Identifier: Apache-2.0
// The type-support handles as loaded, before anything has looked a type support up: this
// program must never call a handle's look-up function, or the slot checks lose their point.

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <rosidl_typesupport_cpp/identifier.hpp>
#include <string>

#include "interfaces/handle_views.hpp"

namespace {

using vantorel_test::HandleView;
using vantorel_test::packageHandles;

const std::string kPackage = "vantorel_base_utils";

std::string entryPoint(const std::string& typesupport, const HandleView& view) {
  return typesupport + "__get_" + view.kind + "_type_support_handle__" + kPackage + "__" +
         view.qualified;
}

TEST(TypeSupportHandles, TemplateAndPlainSymbolReturnTheSameHandleEveryTime) {
  for (const HandleView& view : packageHandles()) {
    SCOPED_TRACE(view.qualified);
    const void* first = view.get();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(view.get(), first);

    // The plain symbol is found by name, as rosidl_typesupport_c-style callers do.
    const std::string plain = entryPoint("rosidl_typesupport_cpp", view);
    void* symbol = dlsym(RTLD_DEFAULT, plain.c_str());
    if (view.kind == "service") {
#if VANTOREL_TYPESUPPORT_FROM_STANDINS
      EXPECT_EQ(symbol, nullptr) << "services have no plain-symbol entry point";
#endif
      continue;
    }
    ASSERT_NE(symbol, nullptr) << plain;
    using Getter = const void* (*)();
    const auto getter = reinterpret_cast<Getter>(symbol);
    EXPECT_EQ(getter(), first);
    EXPECT_EQ(getter(), first);
  }
}

TEST(TypeSupportHandles, TakeTheShapeOfTheTypeSupportsTheyLeadTo) {
  const auto dispatched = vantorel_test::dispatchedTypeSupports();
  ASSERT_FALSE(dispatched.empty());
  for (const HandleView& view : packageHandles()) {
    SCOPED_TRACE(view.qualified);
    if (!vantorel_test::dispatchesThroughMap()) {
      // A single type support is handed out directly: the handle is that type support's own.
      EXPECT_STREQ(view.identifier, dispatched[0].c_str());
      EXPECT_FALSE(view.looks_up_through_runtime);
      EXPECT_NE(view.data, nullptr);
      continue;
    }
    // Dispatch recognises its handles by the identifier's address, not its text.
    EXPECT_EQ(view.identifier, rosidl_typesupport_cpp::typesupport_identifier);
    EXPECT_TRUE(view.looks_up_through_runtime);
    const type_support_map_t* map = view.map();
    ASSERT_NE(map, nullptr);
    ASSERT_EQ(map->size, dispatched.size());
    EXPECT_STREQ(map->package_name, kPackage.c_str());
    for (size_t i = 0; i < map->size; ++i) {
      EXPECT_EQ(map->typesupport_identifier[i], dispatched[i]);
      EXPECT_EQ(map->symbol_name[i], entryPoint(dispatched[i], view));
      EXPECT_EQ(map->data[i], nullptr) << "nothing is loaded before the first look-up";
    }
  }
}

TEST(TypeSupportHandles, EveryTypeHasItsOwnRecords) {
  const auto views = packageHandles();
  for (size_t i = 0; i < views.size(); ++i) {
    for (size_t j = i + 1; j < views.size(); ++j) {
      EXPECT_NE(views[i].get(), views[j].get()) << views[i].qualified << " " << views[j].qualified;
      EXPECT_NE(views[i].data, views[j].data);
      if (vantorel_test::dispatchesThroughMap()) {
        EXPECT_NE(views[i].map()->data, views[j].map()->data) << "library slots are per type";
      }
    }
  }
}

}  // namespace
