int main() { return 0; }  // placeholder: not written yet
