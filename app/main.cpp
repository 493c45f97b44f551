// Program start-up. Filled in by the request driver.
int main() { return 0; }
