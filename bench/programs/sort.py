def main():
    b = []
    x = 1
    for _ in range(300000):
        x = (x * 75 + 74) % 65537
        b.append(x % 7000)
    b.sort()
    s = 0
    for v in b:
        s = s + v
    print(b[0], b[149999], b[299999], s)


main()
