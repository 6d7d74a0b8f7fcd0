#include <vector>
float Area() { return 3.14f * 2; }
std::vector<int> values;
/* first line of a block comment
   return while class inside
   last line */ int after;
const char* text = "say \"hi\" now"; // trailing comment
int Find() { return FIND + find; }
