// quorvane: the tool bridge. Not built yet: every command line is refused.
int main() { return 2; }
