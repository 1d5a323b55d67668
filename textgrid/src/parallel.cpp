#include "parallel.hpp"

#include <thread>

namespace textgrid {

std::size_t logical_processors() {
    const unsigned count = std::thread::hardware_concurrency();
    return count == 0 ? 1 : count;
}

}  // namespace textgrid
