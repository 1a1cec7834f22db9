// A table case's name as its test's name, so that a failing case names itself:
// INSTANTIATE_TEST_SUITE_P(..., ::testing::ValuesIn(kCases), camera::test::CaseName<Case>).
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace camera::test {

template <class Case, class = decltype(std::declval<const Case&>().name)>
std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

}  // namespace camera::test
