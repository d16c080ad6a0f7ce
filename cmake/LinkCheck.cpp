// The program kestrel_link_check builds around one library: it only has to link.
int main() {
    return 0;
}
