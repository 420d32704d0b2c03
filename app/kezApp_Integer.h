// Numbers typed into the window's boxes: decimal text, refused with a message when it is not a number or does
// not fit the parameter it feeds, so that nothing is sent with a value the user did not type (70000 sent as
// a prefetch count of 4464, -1 as the all-ones delivery tag).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace kez {

class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The value of aText, within aMin to aMax; aWhat names the box in the message.
int64_t IntegerOfBox(const std::string& aText, const std::string& aWhat, int64_t aMin, int64_t aMax);

} // namespace kez
