#include "Console.hpp"

#include <iostream>

namespace kelnod {

void say(const std::string& line) { std::cout << line << std::endl; }

void report(const std::string& line) { std::cerr << line << std::endl; }

}  // namespace kelnod
