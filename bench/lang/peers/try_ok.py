import sys
def main(n):
    k = 0
    for i in range(n):
        try:
            k = k + 1
        except Exception:
            k = -1
    print(k)
main(int(sys.argv[1]))
