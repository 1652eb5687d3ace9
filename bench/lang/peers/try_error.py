import sys
def main(n):
    k = 0
    for i in range(n):
        try:
            raise ValueError(12)
        except ValueError as e:
            k = k + 1
    print(k)
main(int(sys.argv[1]))
