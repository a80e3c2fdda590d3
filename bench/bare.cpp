// Does nothing: starting and ending it measures what any program's start costs.
int wmain() {
    return 0;
}
