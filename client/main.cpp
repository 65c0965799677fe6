// Process entry of qrv3. The start-up order arrives with the start-up work;
// until then the program only exits.
int main() { return 0; }
