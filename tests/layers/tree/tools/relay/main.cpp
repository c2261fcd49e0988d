// A program built on the layers.
int main() { return 0; }
