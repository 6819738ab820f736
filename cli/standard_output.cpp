#include "cli/standard_output.h"

namespace talkgate::cli {

bool DescriptorBuffer::drain() {
  const std::size_t pending = static_cast<std::size_t>(pptr() - pbase());
  setp(buffer_, buffer_ + sizeof buffer_);
  if (!problem_.empty()) return false;
  if (pending == 0) return true;
  return writeToDescriptor(descriptor_, buffer_, pending, problem_);
}

DescriptorBuffer::int_type DescriptorBuffer::overflow(int_type c) {
  if (!drain()) return traits_type::eof();
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

int DescriptorBuffer::sync() {
  return drain() ? 0 : -1;
}

}  // namespace talkgate::cli
