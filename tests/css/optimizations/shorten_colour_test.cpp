#include "css/optimizations/shorten_colour.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace css {
namespace {

struct Case {
  std::string value;
  std::string expected;
};

void expect_cases(const std::vector<Case>& cases) {
  for (const Case& c : cases)
    EXPECT_EQ(shorten_colour(c.value), c.expected) << "value: " << c.value;
}

TEST(ShortenColour, HexDigits) {
  expect_cases({
      {"#FFFFFF", "#fff"},
      {"#AABBCC", "#abc"},
      {"#aabbcc", "#abc"},
      {"#ABCDEF", "#abcdef"},
      {"#123123", "#123123"},
      // Pairs compare as written: 'F' and 'f' differ.
      {"#FfFFFF", "#ffffff"},
      {"#F00", "#f00"},
      {"#FFFA", "#fffa"},
      {"#FFFFFFFF", "#ffffffff"},
      {"#AABBCCD", "#aabbccd"},
      // One or two digits: a misspelt colour, only lower-cased.
      {"#A", "#a"},
      {"#AB", "#ab"},
      {"#", "#"},
      {"#xyz", "#xyz"},
  });
}

TEST(ShortenColour, FunctionalForm) {
  expect_cases({
      {"rgb(255, 255, 255)", "#fff"},
      {"rgb(255,0,0)", "#f00"},
      {"rgb( 1 , 2 , 3 )", "#010203"},
      {"rgb(10,11,12)", "#0a0b0c"},
      {"rgb(0017,0,0)", "#100"},
      {"rgb(0018,0,0)", "#120000"},
      {"rgb(000000000000000000000001,2,3)", "#010203"},
      {"rgb(\n1,2,3\r)", "#010203"},
      {"/* c */rgb(1/**/,2,3)", "#010203"},
      // Not a function: browsers drop the declaration.
      {"rgb (1,2,3)", "rgb (1,2,3)"},
      {"rgb/**/(1,2,3)", "rgb/**/(1,2,3)"},
      {"  rgb(1,2,3)", "#010203"},
      {"rgb(10%, 0, 0)", "rgb(10%, 0, 0)"},
      {"rgb(1.5,0,0)", "rgb(1.5,0,0)"},
      {"rgb(-1,0,0)", "rgb(-1,0,0)"},
      {"rgb(+1,0,0)", "rgb(+1,0,0)"},
      {"rgb(,0,0)", "rgb(,0,0)"},
      {"rgb(1,2)", "rgb(1,2)"},
      {"rgb(1,2,3,4)", "rgb(1,2,3,4)"},
      {"rgb(1,2,3", "rgb(1,2,3"},
      {"rgb(1 2 3)", "rgb(1 2 3)"},
      {"rgba(0, 0, 0, 0.5)", "rgba(0, 0, 0, 0.5)"},
      {"RGB(1,2,3)", "RGB(1,2,3)"},
      {"rgb (/* open", "rgb (/* open"},
      // Above 255 is not a colour this rewrite knows.
      {"rgb(256,0,0)", "rgb(256,0,0)"},
      {"rgb(0,0,99999999999999999999)", "rgb(0,0,99999999999999999999)"},
  });
}

TEST(ShortenColour, WhatFollowsTheColour) {
  expect_cases({
      {"#FFF !important", "#fff!important"},
      {"#FFF!important", "#fff!important"},
      {"#FFF \t !important", "#fff!important"},
      {"rgb(0,0,0) !important", "#000!important"},
      {"#FFFFFF url(x.png) no-repeat", "#fff url(x.png) no-repeat"},
      {"#FFFFFF  url(X.PNG)", "#fff  url(X.PNG)"},
      {"#FFFFFF,#000000", "#fff,#000000"},
      {"rgb(255,255,255) none", "#fff none"},
      {"#FFF !important extra", "#fff !important extra"},
      {"#FFF\xC2\xA0x", "#fff\xC2\xA0x"},
      // Glued text: a hack or a typo, left alone.
      {"#FFF\\9", "#FFF\\9"},
      {"#FFFz", "#FFFz"},
      {"#FFF!importantly", "#FFF!importantly"},
      {"rgb(1,2,3)x", "rgb(1,2,3)x"},
  });
}

TEST(ShortenColour, OtherValuesUnchanged) {
  expect_cases({
      {"", ""},
      {"red", "red"},
      {"transparent", "transparent"},
      {"1px solid #FFF", "1px solid #FFF"},
      {" #FFF", " #FFF"},
      {"rgbx(1,2,3)", "rgbx(1,2,3)"},
      {"\"#FFFFFF\"", "\"#FFFFFF\""},
  });
}

}  // namespace
}  // namespace css
