// The dispatching handles as loaded, before anything has looked a type support up: this
// program must never call a handle's look-up function, or the slot checks lose their point.

#include <dlfcn.h>
#include <gtest/gtest.h>

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
#if VANTOREL_TYPESUPPORT_CPP_FROM_TEMPLATE
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

TEST(TypeSupportHandles, CarryTheRuntimeIdentifierAndLookUpFunction) {
  for (const HandleView& view : packageHandles()) {
    SCOPED_TRACE(view.qualified);
    // Dispatch recognises its handles by the identifier's address, not its text.
    EXPECT_EQ(view.identifier, rosidl_typesupport_cpp::typesupport_identifier);
    EXPECT_TRUE(view.looks_up_through_runtime);
  }
}

TEST(TypeSupportHandles, MapNamesBothTypeSupportsTheirEntryPointsAndEmptySlots) {
  for (const HandleView& view : packageHandles()) {
    SCOPED_TRACE(view.qualified);
    const type_support_map_t* map = view.map;
    ASSERT_NE(map, nullptr);
    ASSERT_EQ(map->size, 2u);
    EXPECT_STREQ(map->package_name, kPackage.c_str());
    EXPECT_STREQ(map->typesupport_identifier[0], "rosidl_typesupport_fastrtps_cpp");
    EXPECT_STREQ(map->typesupport_identifier[1], "rosidl_typesupport_introspection_cpp");
    EXPECT_EQ(map->symbol_name[0], entryPoint("rosidl_typesupport_fastrtps_cpp", view));
    EXPECT_EQ(map->symbol_name[1], entryPoint("rosidl_typesupport_introspection_cpp", view));
    EXPECT_EQ(map->data[0], nullptr);
    EXPECT_EQ(map->data[1], nullptr);
  }
}

TEST(TypeSupportHandles, EveryTypeHasItsOwnRecords) {
  const auto views = packageHandles();
  for (size_t i = 0; i < views.size(); ++i) {
    for (size_t j = i + 1; j < views.size(); ++j) {
      EXPECT_NE(views[i].get(), views[j].get()) << views[i].qualified << " " << views[j].qualified;
      EXPECT_NE(views[i].map, views[j].map);
      EXPECT_NE(views[i].map->data, views[j].map->data);
    }
  }
}

}  // namespace
