"""What the build checks share: their failures told one a line, and the
exit status that CTest reads."""


def finish(problems):
    """Prints each problem as a FAIL line; 1 when there was one, else 0."""
    for problem in problems:
        print("FAIL " + problem)
    return 1 if problems else 0
