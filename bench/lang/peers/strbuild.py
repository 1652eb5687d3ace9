import sys
def main(n):
    s = "lorem ipsum dolor sit amet"
    total = 0
    for i in range(1, n + 1):
        k = i % 10
        r = s[k:k + 8].upper() + "%10d" % i
        total = total + len(r)
    print(total)
main(int(sys.argv[1]))
