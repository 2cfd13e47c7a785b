#include "ModMain/errorlog/Guarded.h"
#include "platform/utf8.h"

namespace fl {

Text DescribeFailure(std::exception_ptr failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const Failure& f) {
    return f.Description();
  } catch (const std::bad_alloc&) {
    return desc::kOutOfMemory;
  } catch (const std::length_error&) {
    return desc::kOutOfMemory;
  } catch (const std::out_of_range&) {
    return desc::kSubscript;
  } catch (const std::exception& e) {
    return FromUtf8(e.what());
  } catch (...) {
    return u"Unknown failure";
  }
}

}  // namespace fl
