import sys
def main(n):
    a = [None] * max(n, 1)
    for i in range(n):
        a[i] = i + 1
    s = 0
    for i in range(n):
        s = s + a[i]
    print(s)
main(int(sys.argv[1]))
