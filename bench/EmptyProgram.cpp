// The floor for start-up time and memory: a C++ program that does nothing.
int main() { return 0; }
